#include "MacAddress.h"

#include <limits>

namespace {

int digitOf(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Digits only in the given base, at least one, value within [0, limit].
std::optional<qint64> digitsValue(QStringView text, int base, qint64 limit)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        const int d = digitOf(c);
        if (d < 0 || d >= base)
            return std::nullopt;
        value = value * base + d;
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

constexpr qint64 Int32Max = std::numeric_limits<std::int32_t>::max();

} // namespace

std::int32_t serialNumberValue(const QString &text)
{
    return serialNumberEntry(text).value_or(0);
}

std::optional<std::int32_t> serialNumberEntry(const QString &text)
{
    QStringView digits(text);
    const bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative || digits.startsWith(QLatin1Char('+')))
        digits = digits.mid(1);
    // The magnitude of the most negative value is one above the largest.
    const std::optional<qint64> magnitude =
        digitsValue(digits, 10, negative ? Int32Max + 1 : Int32Max);
    if (!magnitude)
        return std::nullopt;
    return std::int32_t(negative ? -*magnitude : *magnitude);
}

std::array<int, 3> serialNumberOctets(std::int32_t serial)
{
    return {serial / 65536, (serial & 0xFFFF) / 256, serial & 0xFF};
}

QString macOctetText(int value)
{
    return QString::asprintf("%.2X", unsigned(value));
}

std::int32_t serialNumberFromOctetTexts(const QString &octet4, const QString &octet5,
                                        const QString &octet6)
{
    return std::int32_t(digitsValue(QString(octet4 + octet5 + octet6), 16, Int32Max).value_or(0));
}

std::optional<std::uint16_t> macOctetValue(const QString &text)
{
    const std::optional<qint64> value = digitsValue(text, 16, 255);
    if (!value)
        return std::nullopt;
    return std::uint16_t(*value);
}

bool macPrefixUsable(const std::array<std::uint16_t, 6> &octets)
{
    const bool zeros = octets[0] == 0 && octets[1] == 0 && octets[2] == 0;
    const bool ones = octets[0] == 0xFF && octets[1] == 0xFF && octets[2] == 0xFF;
    const bool multicast = (octets[0] & 0x01) != 0;
    return !zeros && !ones && !multicast;
}
