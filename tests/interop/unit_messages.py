"""pymodbus request and response classes for the unit's own function codes:
the read block (107), the two write-block codes (109, 104) and the two
write-one-register codes (103, 108). Over RTU pymodbus sizes each incoming
frame from the response class registered for its function code, so the
classes carry either a fixed frame size or the position of the byte count.

Shared by the interoperability tests and the benchmark.
"""
import struct

from pymodbus.pdu import ModbusRequest, ModbusResponse

READ_BLOCK = 107
WRITE_BLOCK = 109
WRITE_MAC_BLOCK = 104
WRITE_WORD = 103
WRITE_WORD_ALT = 108


class ReadBlockRequest(ModbusRequest):
    """fn, start, count; the reply is laid out like a holding-register read."""

    function_code = READ_BLOCK
    _rtu_frame_size = 8

    def __init__(self, address=0, count=0, **kwargs):
        super().__init__(**kwargs)
        self.address = address
        self.count = count

    def encode(self):
        return struct.pack(">HH", self.address, self.count)

    def decode(self, data):
        self.address, self.count = struct.unpack(">HH", data[:4])

    def get_response_pdu_size(self):
        return 2 + 2 * self.count


class ReadBlockResponse(ModbusResponse):
    function_code = READ_BLOCK
    _rtu_byte_count_pos = 2  # unit id, fn, byte count

    def __init__(self, values=None, **kwargs):
        super().__init__(**kwargs)
        self.registers = list(values or [])
        self.byte_count = 2 * len(self.registers)

    def encode(self):
        return struct.pack(">B%dH" % len(self.registers), 2 * len(self.registers), *self.registers)

    def decode(self, data):
        self.byte_count = data[0]
        body = data[1:1 + self.byte_count]
        self.registers = list(struct.unpack(">%dH" % (len(body) // 2), body))


def _write_block_classes(code):
    class WriteBlockRequest(ModbusRequest):
        """fn, start, count, byte count, values; byte_count overrides the
        true byte count so that a malformed request can be sent."""

        function_code = code

        def __init__(self, address=0, values=None, byte_count=None, **kwargs):
            super().__init__(**kwargs)
            self.address = address
            self.values = list(values or [])
            self.byte_count = 2 * len(self.values) if byte_count is None else byte_count

        def encode(self):
            head = struct.pack(">HHB", self.address, len(self.values), self.byte_count)
            return head + struct.pack(">%dH" % len(self.values), *self.values)

        def decode(self, data):
            self.address, count, self.byte_count = struct.unpack(">HHB", data[:5])
            self.values = list(struct.unpack(">%dH" % count, data[5:5 + 2 * count]))

        def get_response_pdu_size(self):
            return 5

    class WriteBlockResponse(ModbusResponse):
        function_code = code
        _rtu_frame_size = 8  # unit id, fn, start, count, CRC

        def __init__(self, address=0, count=0, **kwargs):
            super().__init__(**kwargs)
            self.address = address
            self.count = count

        def encode(self):
            return struct.pack(">HH", self.address, self.count)

        def decode(self, data):
            self.address, self.count = struct.unpack(">HH", data[:4])

    return WriteBlockRequest, WriteBlockResponse


def _write_word_classes(code):
    class WriteWordRequest(ModbusRequest):
        function_code = code
        _rtu_frame_size = 8

        def __init__(self, address=0, value=0, **kwargs):
            super().__init__(**kwargs)
            self.address = address
            self.value = value

        def encode(self):
            return struct.pack(">HH", self.address, self.value)

        def decode(self, data):
            self.address, self.value = struct.unpack(">HH", data[:4])

        def get_response_pdu_size(self):
            return 5

    class WriteWordResponse(ModbusResponse):
        function_code = code
        _rtu_frame_size = 8  # the request echoed

        def __init__(self, address=0, value=0, **kwargs):
            super().__init__(**kwargs)
            self.address = address
            self.value = value

        def encode(self):
            return struct.pack(">HH", self.address, self.value)

        def decode(self, data):
            self.address, self.value = struct.unpack(">HH", data[:4])

    return WriteWordRequest, WriteWordResponse


WRITE_BLOCK_CLASSES = {c: _write_block_classes(c) for c in (WRITE_BLOCK, WRITE_MAC_BLOCK)}
WRITE_WORD_CLASSES = {c: _write_word_classes(c) for c in (WRITE_WORD, WRITE_WORD_ALT)}


def register_unit_messages(client):
    client.register(ReadBlockResponse)
    for _, response in list(WRITE_BLOCK_CLASSES.values()) + list(WRITE_WORD_CLASSES.values()):
        client.register(response)
