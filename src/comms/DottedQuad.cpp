#include "DottedQuad.h"

#include <limits>

namespace {

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isX(QChar c)
{
    return c == QLatin1Char('x') || c == QLatin1Char('X');
}

} // namespace

std::optional<int> parseNumberText(QStringView text, const NumberRules &rules)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (rules.leadingSpaces)
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
    bool negative = false;
    if (rules.sign && i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (rules.hexPrefixes) {
        if (i < n && (text[i] == QLatin1Char('$') || isX(text[i]))) {
            base = 16;
            i += 1;
        } else if (i + 1 < n && text[i] == QLatin1Char('0') && isX(text[i + 1])) {
            base = 16;
            i += 2;
        }
    }
    if (i == n || (rules.maxDigits > 0 && n - i > rules.maxDigits))
        return std::nullopt;

    // The magnitude stops growing past what an int can hold, so a long text is
    // refused rather than wrapped into range.
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

DottedQuadResult parseDottedQuad(QStringView text, const NumberRules &rules,
                                 std::array<int, 4> &octets)
{
    std::array<int, 4> values{};
    std::size_t part = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype dot = text.indexOf(QLatin1Char('.'), from);
        if (part == 3 ? dot >= 0 : dot < 0)
            return DottedQuadResult::Malformed; // not exactly three dots
        const qsizetype end = dot < 0 ? text.size() : dot;
        const std::optional<int> value = parseNumberText(text.mid(from, end - from), rules);
        if (!value)
            return DottedQuadResult::Malformed;
        values[part] = *value;
        if (dot < 0)
            break;
        from = dot + 1;
        ++part;
    }
    for (const int value : values)
        if (value < 0 || value > 255)
            return DottedQuadResult::OutOfRange;
    octets = values;
    return DottedQuadResult::Good;
}
