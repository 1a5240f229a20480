// Arbitrary bytes as Modbus RTU traffic and as Modbus TCP request PDUs into
// the simulator's frame reader and request handler: no crash, no read past
// the data, and every frame found carries a correct CRC.

#include "PduHandler.h"
#include "RtuFrames.h"
#include "UnitModel.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static SimOptions options = [] {
        SimOptions o;
        o.animate = false;
        return o;
    }();
    static UnitModel model(options);
    static PduHandler handler(model, options);

    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    RtuFrameReader reader([](int unit) { return UnitModel::spaceSizes().count(unit) != 0; });
    // The first byte chooses how the stream is cut into reads.
    const int step = size > 0 ? 1 + data[0] % 16 : 1;
    for (int at = 0; at < bytes.size(); at += step) {
        reader.feed(bytes.mid(at, step));
        for (QByteArray frame = reader.nextFrame(); !frame.isEmpty(); frame = reader.nextFrame()) {
            if (rtuCrc(frame) != 0) // a frame followed by its own CRC sums to zero
                std::abort();
            handler.handle(std::uint8_t(frame[0]), frame.mid(1, frame.size() - 3));
        }
    }
    if (size > 1)
        handler.handle(data[0], bytes.mid(1));
    return 0;
}
