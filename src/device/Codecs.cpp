#include "Codecs.h"

#include "RegisterMap.h"

#include <algorithm>

namespace {

// Packs bytes two per register, the even byte in the high half.
template <std::size_t N>
std::array<std::uint16_t, N> packBytes(const std::array<std::uint8_t, 2 * N> &bytes)
{
    std::array<std::uint16_t, N> registers{};
    for (std::size_t k = 0; k < N; ++k)
        registers[k] = std::uint16_t((bytes[2 * k] << 8) | bytes[2 * k + 1]);
    return registers;
}

std::uint8_t byteAt(const std::uint16_t *registers, int index)
{
    const std::uint16_t r = registers[index / 2];
    return std::uint8_t(index % 2 == 0 ? r >> 8 : r & 0xFF);
}

} // namespace

std::optional<int> parseEntryValue(const QString &text)
{
    return parseNumberText(text, EntryNumberRules);
}

int parseEntryNumber(const QString &text, int defaultValue)
{
    return parseEntryValue(text).value_or(defaultValue);
}

std::optional<int> entryNumberInRange(const QString &text, int min, int max)
{
    const std::optional<int> value = parseEntryValue(text);
    if (!value || *value < min || *value > max)
        return std::nullopt;
    return value;
}

EntryCheck checkEntryNumbers(const QStringList &texts, int min, int max)
{
    EntryCheck check;
    for (int i = 0; i < texts.size(); ++i) {
        const std::optional<int> value = entryNumberInRange(texts[i], min, max);
        if (!value) {
            check.firstInvalid = i;
            check.values.clear();
            return check;
        }
        check.values.push_back(*value);
    }
    return check;
}

QString octetText(int value)
{
    return QString::asprintf("%.3d", value);
}

std::optional<Octets4> dottedOctets(const QString &text)
{
    std::array<int, 4> parsed{};
    if (parseDottedQuad(text, EntryNumberRules, parsed) != DottedQuadResult::Good)
        return std::nullopt;
    Octets4 octets{};
    std::copy(parsed.begin(), parsed.end(), octets.begin());
    return octets;
}

std::optional<Octets4> fileAddress(const QString &text, DottedQuadResult *result)
{
    std::array<int, 4> parsed{};
    const DottedQuadResult r = parseDottedQuad(text, FileAddressRules, parsed);
    if (result)
        *result = r;
    if (r != DottedQuadResult::Good)
        return std::nullopt;
    Octets4 octets{};
    std::copy(parsed.begin(), parsed.end(), octets.begin());
    return octets;
}

QString dottedText(const std::uint16_t *octets, int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString::number(octets[i]);
    return parts.join(QLatin1Char('.'));
}

QString firmwareLabel(std::uint16_t productCode, std::uint16_t firmware)
{
    return QString::asprintf("QX%.4d v%.1d.%.2d", int(productCode), firmware / 100, firmware % 100);
}

QString firmwareVersionText(std::uint16_t firmware)
{
    return QString::asprintf("%d.%.2d", firmware / 100, firmware % 100);
}

QString macLabel(const std::uint16_t registers[6])
{
    return QString::asprintf("%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", unsigned(registers[0]),
                             unsigned(registers[1]), unsigned(registers[2]), unsigned(registers[3]),
                             unsigned(registers[4]), unsigned(registers[5]));
}

std::array<std::uint16_t, 3> encodeDeviceObjectId(std::uint32_t instance)
{
    // High half: object type 8 (512 = 8 << 6) and instance bits 21 to 16.
    return {DeviceObjectIdTagWord, std::uint16_t(512 + instance / 65536),
            std::uint16_t(instance % 65536)};
}

std::uint32_t decodeDeviceInstance(const std::uint16_t registers[3])
{
    // The tag word and the object type bits are not checked.
    return std::uint32_t(registers[1] & 63) * 65536u + registers[2];
}

std::array<std::uint16_t, 11> encodeDeviceName(const QByteArray &name)
{
    const int length = std::min<int>(int(name.size()), MaxDeviceNameLength);
    std::array<std::uint8_t, 22> bytes{};
    bytes[0] = 7;                        // application tag: CharacterString
    bytes[1] = std::uint8_t(length + 1); // the character-set byte counts
    bytes[2] = 0;                        // character set: ANSI X3.4
    for (int i = 0; i < length; ++i)
        bytes[std::size_t(3 + i)] = std::uint8_t(name[i]);
    return packBytes<11>(bytes);
}

QByteArray decodeDeviceName(const std::uint16_t registers[11])
{
    const int length = std::clamp(int(byteAt(registers, 1)) - 1, 0, MaxDeviceNameLength);
    QByteArray name;
    for (int i = 0; i < length; ++i)
        name.append(char(byteAt(registers, 3 + i)));
    return name;
}

std::array<std::uint16_t, 10> encodeObjectName(const QByteArray &name)
{
    const int length = std::min<int>(int(name.size()), MaxObjectNameLength);
    std::array<std::uint8_t, 20> bytes{};
    bytes[0] = std::uint8_t(length);
    for (int i = 0; i < length; ++i)
        bytes[std::size_t(1 + i)] = std::uint8_t(name[i]);
    return packBytes<10>(bytes);
}

QByteArray decodeObjectName(const std::uint16_t registers[10])
{
    const int length = std::min<int>(byteAt(registers, 0), MaxObjectNameLength);
    QByteArray name;
    for (int i = 0; i < length; ++i)
        name.append(char(byteAt(registers, 1 + i)));
    return name;
}

QString nameText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

std::optional<QByteArray> nameBytes(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return std::nullopt;
    return text.toLatin1();
}

QString numberRanges(const std::vector<int> &numbers, const QString &between)
{
    QStringList runs;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1)
            ++last;
        runs << (last == i
                     ? QString::number(numbers[i])
                     : QString::number(numbers[i]) + between + QString::number(numbers[last]));
        i = last + 1;
    }
    return runs.join(QStringLiteral(", "));
}
