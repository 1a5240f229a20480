#pragma once

// Whole numbers typed as text and IPv4 addresses written as four numbers
// with dots. Every reader of such text in the tool goes through here; what
// differs between them (spaces, signs, hexadecimal, digit counts) is the
// NumberRules each one passes.

#include <QStringView>

#include <array>
#include <optional>

// How one number, or one part of a dotted address, is read. Digits are the
// ASCII digits only; a character after the digits (a trailing space
// included) makes the text no number.
struct NumberRules
{
    bool leadingSpaces = false; // spaces before the sign and digits
    bool sign = false;          // one '+' or '-' before the digits ("-0" is 0)
    bool hexPrefixes = false;   // "$", "x" or "0x" (any case) before hexadecimal digits
    int maxDigits = 0;          // at most this many digits; 0 for no limit
};

// The connection settings' strict dotted quad: leading spaces, then decimal
// digits only ("010" is 10).
constexpr NumberRules StrictAddressRules{true, false, false, 0};
// The number-entry rule of every box on the pages and of ravelinctl's values:
// leading spaces, a sign, hexadecimal prefixes, decimal otherwise.
constexpr NumberRules EntryNumberRules{true, true, true, 0};
// Addresses in the configuration file and in survey lists: one to three
// decimal digits per part, nothing else.
constexpr NumberRules FileAddressRules{false, false, false, 3};

// The number text stands for, or nothing when it is not a number under
// `rules` or lies outside the signed 32-bit range (never wrapped into it).
std::optional<int> parseNumberText(QStringView text, const NumberRules &rules);

enum class DottedQuadResult
{
    Good,
    Malformed,  // not four parts, or a part that is no number under the rules
    OutOfRange, // four numbers, one of them outside 0 to 255
};

// Four parts separated by three dots, each a number under `rules` and from 0
// to 255. Every part's form is judged before any range, so "300.x.1.2" is
// Malformed. `octets` is written only when the result is Good.
DottedQuadResult parseDottedQuad(QStringView text, const NumberRules &rules,
                                 std::array<int, 4> &octets);
