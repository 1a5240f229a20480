// Feeds arbitrary bytes to the configuration-file reader. Whatever arrives,
// the reader either refuses with a message, or takes a configuration whose
// values fit the unit and that it writes and reads back unchanged.

#include "ConfigFile.h"
#include "JsonLocator.h"

#include "Codecs.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The first byte steers: odd values put the rest inside the head every good
// file starts with, so the fuzzer reaches the sections without having to
// guess the format name first.
QByteArray textFrom(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] % 2 == 0)
        return rest;
    return "{\"format\": \"ravelin-unit-config\", \"formatVersion\": 1,\n" + rest + "\n}";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text = textFrom(data, size);
    const JsonLocator locator(text); // must hold on any text, JSON or not
    check(locator.lineOf(locator.lastPathBefore(text.size())) >= 0);

    ConfigError error;
    const std::optional<UnitConfig> config = parseUnitConfig(text, &error);
    if (!config) {
        check(!error.message.isEmpty());
        check(error.line >= 0 && error.line <= int(text.count('\n')) + 1);
        return 0;
    }
    if (config->bacnet) {
        check(isValidDeviceInstance(config->bacnet->instance));
        check(config->bacnet->name.size() <= MaxDeviceNameLength);
    }
    if (config->objectNames)
        for (const QByteArray &name : *config->objectNames)
            check(name.size() <= MaxObjectNameLength);

    const QByteArray written = serializeUnitConfig(*config);
    const std::optional<UnitConfig> again = parseUnitConfig(written, &error);
    check(again.has_value());
    check(serializeUnitConfig(*again) == written);
    return 0;
}
