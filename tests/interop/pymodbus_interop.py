#!/usr/bin/python3
"""ravelin-sim against an independent Modbus client: python3-pymodbus's
synchronous clients, over Modbus TCP on loopback and over Modbus RTU on a
pty pair made by socat.

The unit's function codes are not standard ones, so this file teaches
pymodbus to frame them: request and response classes for the read block
(107), the two write-block codes (109, 104) and the two write-one-register
codes (103, 108). Over RTU pymodbus sizes each incoming frame from the
response class registered for its function code, so the classes carry either
a fixed frame size or the position of the byte count.

Usage: pymodbus_interop.py RAVELIN_SIM
Exit status 77 (skipped) when pymodbus is not importable. When the
environment variable CI is set, a missing peer (pymodbus, pyserial, socat)
fails the run instead: CI must not pass without these checks.
"""
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

IN_CI = "CI" in os.environ

try:
    from pymodbus.client import ModbusSerialClient, ModbusTcpClient
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.pdu import ExceptionResponse
except ImportError as error:
    print("pymodbus_interop: python3-pymodbus is not importable (%s)" % error)
    if IN_CI:
        print("pymodbus_interop: CI is set: a missing peer fails the test")
        sys.exit(1)
    print("pymodbus_interop: skipped (scripts/setup-deps installs what it needs)")
    sys.exit(77)

from unit_messages import (  # noqa: E402  (after the pymodbus check)
    READ_BLOCK,
    WRITE_BLOCK,
    WRITE_MAC_BLOCK,
    WRITE_WORD,
    WRITE_WORD_ALT,
    WRITE_BLOCK_CLASSES,
    WRITE_WORD_CLASSES,
    ReadBlockRequest,
    ReadBlockResponse,
    register_unit_messages,
)

try:
    import serial  # noqa: F401  (pymodbus' serial client needs pyserial)

    HAVE_SERIAL = True
except ImportError:
    HAVE_SERIAL = False

SIMULATOR = None  # set from argv in main()

SYSTEM_UNIT, NETWORK_UNIT, STATUS_UNIT, BACNET_UNIT, NAMES_UNIT = 19, 20, 21, 22, 26

START_TIMEOUT_S = 5.0
STOP_TIMEOUT_S = 3.0
CLIENT_TIMEOUT_S = 2  # pymodbus 3.0 takes whole seconds


def name_records(registers, count):
    """Length-prefixed names, one record per 10 registers, high byte first."""
    data = b"".join(struct.pack(">H", r) for r in registers)
    return [data[20 * i + 1:20 * i + 1 + data[20 * i]].decode("ascii") for i in range(count)]


# --------------------------------------------------------------------------
# Processes: the simulator and socat, always stopped by pid
# --------------------------------------------------------------------------


def read_line(process, timeout_s):
    """First stdout line of process, or "" when none arrives in time."""
    deadline = time.monotonic() + timeout_s
    data = b""
    fd = process.stdout.fileno()
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        chunk = os.read(fd, 256)
        if not chunk:
            break
        data += chunk
    return data.split(b"\n")[0].decode(errors="replace")


def stop_process(process):
    """Stops process by its pid, bounded in time; its exit status, or None
    when it had to be killed."""
    if process is None:
        return None
    try:
        if process.poll() is not None:
            return process.returncode
        os.kill(process.pid, signal.SIGTERM)
        try:
            return process.wait(STOP_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            os.kill(process.pid, signal.SIGKILL)
            process.wait(STOP_TIMEOUT_S)
            return None
    finally:
        if process.stdout is not None:
            process.stdout.close()


def start_simulator(*arguments, ready_prefix):
    process = subprocess.Popen([SIMULATOR, "--no-animate", *arguments], stdout=subprocess.PIPE)
    line = read_line(process, START_TIMEOUT_S)
    if not line.startswith(ready_prefix):
        stop_process(process)
        raise AssertionError("ravelin-sim did not start: %r" % line)
    return process, line


def start_tcp_simulator(*extra):
    process, line = start_simulator(
        "--listen", "127.0.0.1:0", *extra,
        ready_prefix="ravelin-sim: listening on 127.0.0.1:")
    port = int(line.split("127.0.0.1:")[1].split()[0])
    return process, port


# --------------------------------------------------------------------------
# Checks shared by both transports
# --------------------------------------------------------------------------


class UnitChecks:
    """Mixed into a TestCase that sets self.client (connected, messages
    registered) in setUpClass."""

    client = None

    def read(self, unit, address, count):
        return self.client.execute(ReadBlockRequest(address, count, unit=unit))

    def write_block(self, unit, address, values, code=WRITE_BLOCK, **kwargs):
        request_class = WRITE_BLOCK_CLASSES[code][0]
        return self.client.execute(request_class(address, values, unit=unit, **kwargs))

    def write_word(self, unit, address, value, code=WRITE_WORD):
        request_class = WRITE_WORD_CLASSES[code][0]
        return self.client.execute(request_class(address, value, unit=unit))

    def assertRegisters(self, reply, expected):
        self.assertIsInstance(reply, ReadBlockResponse, str(reply))
        self.assertEqual(reply.byte_count, 2 * len(expected))
        self.assertEqual(reply.registers, expected)

    def assertException(self, reply, function_code, exception_code):
        self.assertIsInstance(reply, ExceptionResponse, str(reply))
        self.assertTrue(reply.isError())
        self.assertEqual(reply.function_code, function_code | 0x80)
        self.assertEqual(reply.exception_code, exception_code)

    def test_factory_blocks(self):
        cases = [
            ("product and firmware", SYSTEM_UNIT, 20, [5173, 134]),
            ("MAC", SYSTEM_UNIT, 22, [0x02, 0x7A, 0x1C, 0x05, 0x17, 0x3A]),
            ("address, gateway, mask", NETWORK_UNIT, 7,
             [192, 0, 2, 10, 192, 0, 2, 1, 255, 255, 255, 0]),
            ("second address", NETWORK_UNIT, 19, [192, 0, 2, 20]),
        ]
        for label, unit, address, expected in cases:
            with self.subTest(label):
                self.assertRegisters(self.read(unit, address, len(expected)), expected)

    def test_largest_read_carries_name_records(self):
        reply = self.read(NAMES_UNIT, 0, 125)
        self.assertIsInstance(reply, ReadBlockResponse, str(reply))
        self.assertEqual(reply.byte_count, 250)
        self.assertEqual(reply.registers[0], 0x0755)
        self.assertEqual(name_records(reply.registers, 12),
                         ["Unit%03d" % n for n in range(1, 13)])

    def test_write_block_reads_back(self):
        cases = [
            (WRITE_BLOCK, NETWORK_UNIT, 19, [192, 0, 2, 77]),
            (WRITE_MAC_BLOCK, SYSTEM_UNIT, 22, [0x02, 0x7A, 0x1C, 0x05, 0x17, 0x99]),
            (WRITE_BLOCK, NAMES_UNIT, 990, [0x0358, 0x595A, 0xFFFF, 0, 1, 0x8000, 7, 8, 9, 10]),
        ]
        for code, unit, address, values in cases:
            with self.subTest(code=code, unit=unit, address=address):
                reply = self.write_block(unit, address, values, code=code)
                self.assertIsInstance(reply, WRITE_BLOCK_CLASSES[code][1], str(reply))
                self.assertEqual((reply.address, reply.count), (address, len(values)))
                self.assertRegisters(self.read(unit, address, len(values)), values)

    def test_write_one_register_reads_back(self):
        for code, value in ((WRITE_WORD, 0xBEEF), (WRITE_WORD_ALT, 0x1234)):
            with self.subTest(code=code):
                reply = self.write_word(BACNET_UNIT, 15, value, code=code)
                self.assertIsInstance(reply, WRITE_WORD_CLASSES[code][1], str(reply))
                self.assertEqual((reply.address, reply.value), (15, value))
                self.assertRegisters(self.read(BACNET_UNIT, 15, 1), [value])

    def test_exception_replies(self):
        cases = [
            ("read past the space", lambda: self.read(SYSTEM_UNIT, 60, 8), READ_BLOCK, 2),
            ("read count 0", lambda: self.read(SYSTEM_UNIT, 0, 0), READ_BLOCK, 3),
            ("read count 126", lambda: self.read(NAMES_UNIT, 0, 126), READ_BLOCK, 3),
            ("write product register",
             lambda: self.write_word(SYSTEM_UNIT, 20, 1), WRITE_WORD, 2),
            ("write block across firmware register",
             lambda: self.write_block(SYSTEM_UNIT, 21, [1, 2], code=WRITE_MAC_BLOCK),
             WRITE_MAC_BLOCK, 2),
        ]
        for label, send, code, exception in cases:
            with self.subTest(label):
                self.assertException(send(), code, exception)
        # The refused writes changed nothing.
        self.assertRegisters(self.read(SYSTEM_UNIT, 20, 3), [5173, 134, 0x02])

    # A request whose byte count disagrees with its register count (2 bytes
    # announced, 4 sent).
    def send_byte_count_mismatch(self):
        return self.write_block(NETWORK_UNIT, 19, [1, 2], byte_count=2)

    # Function 3 (read holding registers), which the unit does not implement.
    def send_standard_read(self):
        return self.client.read_holding_registers(0, 1, slave=SYSTEM_UNIT)


# --------------------------------------------------------------------------
# Modbus TCP
# --------------------------------------------------------------------------


class TcpInterop(UnitChecks, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim, cls.port = start_tcp_simulator()
        cls.client = ModbusTcpClient("127.0.0.1", port=cls.port, timeout=CLIENT_TIMEOUT_S)
        register_unit_messages(cls.client)
        if not cls.client.connect():
            stop_process(cls.sim)
            raise AssertionError("cannot connect to 127.0.0.1:%d" % cls.port)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.assert_stopped_cleanly(cls.sim)

    @staticmethod
    def assert_stopped_cleanly(sim):
        status = stop_process(sim)
        if status != 0:
            raise AssertionError("ravelin-sim exit status %r after SIGTERM" % status)

    def test_malformed_and_misaddressed_requests(self):
        # Only a TCP unit (a gateway to its spaces) answers for a unit id it
        # does not have.
        self.assertException(self.read(99, 0, 1), READ_BLOCK, 0x0B)
        self.assertException(self.send_standard_read(), 3, 1)
        self.assertException(self.send_byte_count_mismatch(), WRITE_BLOCK, 3)
        self.assertRegisters(self.read(NETWORK_UNIT, 19, 2), [192, 0])

    def test_exception_option_gives_device_failure(self):
        sim, port = start_tcp_simulator("--exception", "%d:7" % NETWORK_UNIT)
        client = ModbusTcpClient("127.0.0.1", port=port, timeout=CLIENT_TIMEOUT_S)
        try:
            register_unit_messages(client)
            self.assertTrue(client.connect())
            self.assertException(client.execute(ReadBlockRequest(7, 4, unit=NETWORK_UNIT)),
                                 READ_BLOCK, 4)
            # Other starts in the same unit are served.
            reply = client.execute(ReadBlockRequest(8, 1, unit=NETWORK_UNIT))
            self.assertIsInstance(reply, ReadBlockResponse, str(reply))
            self.assertEqual(reply.registers, [0])
        finally:
            client.close()
            self.assert_stopped_cleanly(sim)


# --------------------------------------------------------------------------
# Modbus RTU over a pty pair
# --------------------------------------------------------------------------


def wait_for_links(paths, timeout_s):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        if all(os.path.exists(p) for p in paths):
            return True
        time.sleep(0.02)
    return False


def missing_rtu_peer():
    """What the RTU checks need and is not installed, or None."""
    if not HAVE_SERIAL:
        return "pyserial (python3-serial) is not importable"
    if not shutil.which("socat"):
        return "socat is not installed"
    return None


class RtuInterop(UnitChecks, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = cls.socat = cls.client = None
        missing = missing_rtu_peer()
        if missing and IN_CI:
            raise AssertionError(missing + " (CI is set: a missing peer fails the test)")
        if missing:
            raise unittest.SkipTest(missing + ": RTU checks skipped")
        cls.dir = tempfile.mkdtemp(prefix="ravelin-interop-")
        try:
            cls.start_line()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def start_line(cls):
        unit_end, client_end = os.path.join(cls.dir, "a"), os.path.join(cls.dir, "b")
        cls.socat = subprocess.Popen(
            ["socat", "-d", "-d", "pty,raw,echo=0,link=" + unit_end,
             "pty,raw,echo=0,link=" + client_end],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for_links([unit_end, client_end], START_TIMEOUT_S):
            raise AssertionError("socat made no pty pair")
        cls.sim, _ = start_simulator("--serial", unit_end,
                                     ready_prefix="ravelin-sim: serving Modbus RTU on ")
        cls.client = ModbusSerialClient(client_end, framer=ModbusRtuFramer, baudrate=9600,
                                        bytesize=8, parity="N", stopbits=1,
                                        timeout=CLIENT_TIMEOUT_S)
        register_unit_messages(cls.client)
        if not cls.client.connect():
            raise AssertionError("cannot open " + client_end)

    @classmethod
    def tearDownClass(cls):
        if cls.client is not None:
            cls.client.close()
        status = stop_process(cls.sim)
        stop_process(cls.socat)
        shutil.rmtree(cls.dir, ignore_errors=True)
        if cls.sim is not None and status != 0:
            raise AssertionError("ravelin-sim exit status %r after SIGTERM" % status)

    def test_unknown_unit_gets_no_reply(self):
        # On a shared serial line other unit ids belong to other devices.
        reply = self.read(99, 0, 1)
        self.assertTrue(reply.isError())
        self.assertNotIsInstance(reply, ExceptionResponse)
        self.assertRegisters(self.read(SYSTEM_UNIT, 20, 1), [5173])

    # Frames no length rule fits end at the line's silence and get their exception.
    def test_byte_count_mismatch_answered(self):
        self.assertException(self.send_byte_count_mismatch(), WRITE_BLOCK, 3)

    def test_unknown_function_answered(self):
        self.assertException(self.send_standard_read(), 3, 1)

    def test_serves_after_unanswerable_frames(self):
        self.send_standard_read()
        self.send_byte_count_mismatch()
        self.assertRegisters(self.read(NETWORK_UNIT, 19, 2), [192, 0])


def main():
    global SIMULATOR
    if len(sys.argv) < 2:
        print("usage: pymodbus_interop.py RAVELIN_SIM", file=sys.stderr)
        return 2
    SIMULATOR = sys.argv.pop(1)
    result = unittest.main(exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
