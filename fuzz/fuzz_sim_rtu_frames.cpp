// Arbitrary bytes as Modbus RTU traffic into the simulator's frame reader,
// cut into reads and silences as the input's first bytes choose: no crash, no
// read past the data, every frame found carries a correct CRC, and the reader
// never keeps more than the longest frame once it has nothing to return.

#include "RtuFrames.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // Byte 0: how long each read is; byte 1: after how many reads the line
    // falls silent (0: never).
    const int step = 1 + data[0] % 32;
    const int silenceEvery = data[1] % 8;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 2), int(size - 2));
    RtuFrameReader reader([](int unit) { return unit == 19 || unit == 20 || unit == 26; });
    int reads = 0;
    for (int at = 0; at < bytes.size(); at += step) {
        reader.feed(bytes.mid(at, step));
        for (QByteArray frame = reader.nextFrame(); !frame.isEmpty(); frame = reader.nextFrame())
            if (frame.size() < 4 ||
                rtuCrc(frame) != 0) // a frame followed by its own CRC sums to zero
                std::abort();
        if (reader.pending() > RtuFrameReader::MaxFrameSize)
            std::abort();
        if (silenceEvery != 0 && ++reads % silenceEvery == 0) {
            const QByteArray odd = reader.takeSilenceDelimitedFrame();
            if ((!odd.isEmpty() && (odd.size() < 4 || rtuCrc(odd) != 0)) || reader.pending() != 0)
                std::abort();
        }
    }
    return 0;
}
