// Feeds arbitrary bytes to the object-names CSV reader. Whatever arrives, it
// either refuses with at least one fault, or takes names that fit the unit
// and that the writer puts into a CSV it reads back to the same names.

#include "NamesCsv.h"

#include "Codecs.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The first byte steers: odd values put the header row in front of the
// rest, so most runs go on to the rows.
QByteArray bytesFrom(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    return data[0] % 2 == 0 ? rest : "address,name\n" + rest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = bytesFrom(data, size);
    QStringList faults;
    const std::optional<NameUpdates> updates = parseNamesCsv(bytes, &faults);
    if (!updates) {
        check(!faults.isEmpty());
        return 0;
    }
    check(!updates->empty());
    for (const auto &[address, name] : *updates) {
        check(address >= 1 && address <= ObjectNameCount);
        check(name.size() <= MaxObjectNameLength);
    }
    const ObjectNameList names = withNameUpdates(ObjectNameList{}, *updates);
    const std::optional<NameUpdates> back = parseNamesCsv(namesToCsv(names), &faults);
    check(back.has_value() && int(back->size()) == ObjectNameCount);
    check(withNameUpdates(ObjectNameList{}, *back) == names);
    return 0;
}
