#include "Codecs.h"

#include "RegisterMap.h"

#include <algorithm>
#include <limits>

namespace {

int digitValue(QChar c, int base)
{
    const char16_t u = c.toLower().unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

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
    const int n = int(text.size());
    int i = 0;
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && (text[i] == QLatin1Char('$') || text[i].toLower() == QLatin1Char('x'))) {
        base = 16;
        i += 1;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
               text[i + 1].toLower() == QLatin1Char('x')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return std::nullopt;

    // Accumulate the magnitude; anything beyond what an int can hold is refused
    // rather than wrapped, so it can never pass a range test by accident.
    constexpr long long magnitudeLimit = std::numeric_limits<int>::max() + 1LL;
    long long magnitude = 0;
    for (; i < n; ++i) {
        const int d = digitValue(text[i], base);
        if (d < 0)
            return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > magnitudeLimit)
            return std::nullopt;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(value);
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
