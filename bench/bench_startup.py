#!/usr/bin/env python3
"""Start-up time of the configuration tool against a bare Qt main window.

Each program is started with RAVELIN_STARTUP_PROBE set and timed from the
start of the process to its "shown" line (first expose of its window). Run
under an X server (scripts/bench runs it inside xvfb-run). Prints the median
of RUNS starts of each and their ratio.

Usage: bench_startup.py TOOL BARE_WINDOW [RUNS]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def time_start(program, folder):
    env = dict(os.environ, RAVELIN_STARTUP_PROBE="1")
    begin = time.perf_counter()
    proc = subprocess.Popen([program], stdout=subprocess.PIPE, cwd=folder, env=env,
                            stderr=subprocess.DEVNULL)
    try:
        line = proc.stdout.readline()
        elapsed = (time.perf_counter() - begin) * 1000.0
        if line.strip() != b"shown":
            raise RuntimeError(f"{program}: no 'shown' line")
        proc.wait(timeout=10)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return elapsed


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    tool, bare = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory() as folder:
        # The tool writes its settings file into the working folder: a
        # private one, seeded with a loopback address.
        with open(os.path.join(folder, "QuorixIPB_Cfg.Ini"), "w") as ini:
            ini.write("[Options]\nComms_Port=1\nIP_Address=127.0.0.1\n")
        for program in (tool, bare):  # warm the file cache once
            time_start(program, folder)
        medians = {}
        for name, program in (("tool", tool), ("bare window", bare)):
            times = [time_start(program, folder) for _ in range(runs)]
            medians[name] = statistics.median(times)
            print(f"{name:12s} median {medians[name]:6.1f} ms over {runs} starts "
                  f"(min {min(times):.1f}, max {max(times):.1f})")
    print(f"ratio        {medians['tool'] / medians['bare window']:.2f} (target at most 1.50)")


if __name__ == "__main__":
    main()
