#!/bin/sh
# Runs a test program inside a small network of its own, made for it and torn
# down after it, so that broadcasts can be tested (loopback has none):
#
#   program's side (user + network namespace, unshare -rn)   v0  10.77.0.1/24
#   units' side (a second network namespace)                  v1  10.77.0.2/24, 10.77.0.3/24
#
# joined by a veth pair, broadcast address 10.77.0.255. Every address lives
# only inside these namespaces. The program learns the layout from its
# environment:
#   RAVELIN_NETNS_IFACE  the program side's interface (v0)
#   RAVELIN_SIM          a launcher running ravelin-sim on the units' side
#                        (SimProcess starts it instead of the simulator)
#
# Usage: run_in_netns.sh RAVELIN_SIM PROGRAM [ARGS...]
# Exits with the program's status; 77 (skipped) when namespaces or veth links
# cannot be made on this machine, 1 then when CI is set: CI must not pass
# without the test having run.

cannot() {
    echo "run_in_netns: $1, so the test cannot run here"
    if [ -n "${CI+set}" ]; then
        echo "run_in_netns: CI is set: that fails the test"
        exit 1
    fi
    exit 77
}

if [ "${1-}" != --inside ]; then
    [ $# -ge 2 ] || { echo "usage: run_in_netns.sh RAVELIN_SIM PROGRAM [ARGS...]"; exit 2; }
    for tool in unshare nsenter ip; do
        command -v "$tool" >/dev/null 2>&1 || cannot "$tool is not installed"
    done
    # In a process namespace of its own as well where allowed: whatever the
    # program leaves running (a crash leaves its simulators) ends with it.
    contained="-p -m --fork --kill-child --mount-proc"
    # shellcheck disable=SC2086
    if unshare -rn $contained true 2>/dev/null; then
        exec unshare -rn $contained sh "$0" --inside "$@"
    fi
    why=$(unshare -rn true 2>&1) || cannot "unshare -rn is refused ($why)"
    exec unshare -rn sh "$0" --inside "$@"
fi
shift
sim=$1
shift

holder=
dir=
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
    if [ -n "$holder" ]; then
        kill "$holder" 2>/dev/null
        wait "$holder" 2>/dev/null
    fi
    [ -n "$dir" ] && rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

ip link set lo up || cannot "loopback cannot be brought up in a new namespace"

# The units' namespace is held open by a process of its own, bounded in time
# and stopped by its pid on the way out.
unshare -n sleep 300 &
holder=$!
own=$(readlink /proc/self/ns/net)
tries=0
while [ "$(readlink "/proc/$holder/ns/net" 2>/dev/null)" = "$own" ]; do
    tries=$((tries + 1))
    [ $tries -le 200 ] || cannot "the second network namespace did not appear"
    sleep 0.02
done
kill -0 "$holder" 2>/dev/null || cannot "unshare -n is refused inside the namespace"

why=$(ip link add v0 type veth peer name v1 netns "$holder" 2>&1) ||
    cannot "no veth link can be made ($why)"
{ ip addr add 10.77.0.1/24 brd + dev v0 && ip link set v0 up; } ||
    cannot "v0 cannot be configured"
nsenter -t "$holder" -n sh -c '
    ip link set lo up &&
    ip addr add 10.77.0.2/24 brd + dev v1 &&
    ip addr add 10.77.0.3/24 brd + dev v1 &&
    ip link set v1 up' || cannot "v1 cannot be configured"

dir=$(mktemp -d) || exit 1
# exec keeps one process: the pid SimProcess stops is the simulator's own.
cat >"$dir/sim" <<EOF
#!/bin/sh
exec nsenter -t $holder -n -- "$sim" "\$@"
EOF
chmod +x "$dir/sim"

RAVELIN_SIM="$dir/sim" RAVELIN_NETNS_IFACE=v0 "$@"
status=$?
exit $status
