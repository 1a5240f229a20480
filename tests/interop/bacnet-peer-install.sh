#!/bin/sh
# Installs the independent BACnet peer (the npm packages pinned in
# tests/interop/bacnet-peer/) into BUILD_DIR/bacnet-peer/node_modules, where
# interop_bacnet_peer and bacnet_peer.js look for it. The repository keeps
# only package.json and package-lock.json; nothing is installed into it.
# Does nothing when that folder already holds the pinned versions.
# Usage: bacnet-peer-install.sh BUILD_DIR
set -eu
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")/bacnet-peer" && pwd)
dest="$1/bacnet-peer"
if ! command -v npm >/dev/null 2>&1; then
    echo "bacnet-peer-install: npm is not installed (scripts/setup-deps installs it)" >&2
    exit 1
fi
if cmp -s "$here/package-lock.json" "$dest/package-lock.json" &&
    [ -f "$dest/node_modules/@bacnet-js/client/package.json" ]; then
    exit 0
fi
mkdir -p "$dest"
cp "$here/package.json" "$here/package-lock.json" "$dest/"
cd "$dest"
npm ci --omit=dev --no-audit --no-fund --loglevel=error
echo "bacnet-peer-install: BACnet peer installed in $dest/node_modules"
