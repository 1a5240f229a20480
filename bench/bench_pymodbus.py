#!/usr/bin/python3
"""Time per exchange of python3-pymodbus's synchronous TCP client reading 40
registers of the status block from ravelin-sim on loopback with the unit's
read-block function code (107).

Usage: bench_pymodbus.py SIMULATOR [EXCHANGES] [TOOL_MEDIAN_US]
"""
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "interop"))
try:
    from pymodbus.client import ModbusTcpClient
    from unit_messages import ReadBlockRequest, ReadBlockResponse
except ImportError:
    print("python3-pymodbus is not installed: skipped")
    sys.exit(0)

STATUS_UNIT = 21
REGISTERS = 40


def start_simulator(path):
    sim = subprocess.Popen([path, "--listen", "127.0.0.1:0", "--no-animate"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = sim.stdout.readline()
    match = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
    if not match:
        sim.kill()
        sim.wait(3)
        raise SystemExit("bench_pymodbus: the simulator did not start: " + line)
    return sim, int(match.group(1))


def main():
    simulator = sys.argv[1]
    exchanges = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    tool_us = float(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[3] else None
    sim, port = start_simulator(simulator)
    try:
        client = ModbusTcpClient("127.0.0.1", port=port, timeout=7)
        client.register(ReadBlockResponse)
        if not client.connect():
            raise SystemExit("bench_pymodbus: cannot connect")
        times = []
        for _ in range(exchanges):
            start = time.perf_counter_ns()
            reply = client.execute(ReadBlockRequest(0, REGISTERS, unit=STATUS_UNIT))
            times.append((time.perf_counter_ns() - start) / 1000.0)
            if not isinstance(reply, ReadBlockResponse) or len(reply.registers) != REGISTERS:
                raise SystemExit("bench_pymodbus: bad reply %r" % (reply,))
        client.close()
    finally:
        sim.terminate()
        try:
            sim.wait(3)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait(3)
    median = statistics.median(times)
    print("pymodbus client      median %8.1f us" % median)
    if tool_us:
        print("TcpReadRegisters / pymodbus %8.3f" % (tool_us / median))


if __name__ == "__main__":
    main()
