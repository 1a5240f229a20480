#pragma once

// The MAC address dialog's arithmetic, without widgets: the unit's serial
// number gives the last three octets (a 24-bit big-endian number), the octet
// boxes show hexadecimal text, and the reverse turns the last three boxes back
// into the serial number.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The serial number box: a decimal integer in the signed 32-bit range, 0 for
// any other text.
std::int32_t serialNumberValue(const QString &text);

// The serial number box as a person means it: a decimal whole number in the
// signed 32-bit range (an optional sign); nothing for any other text.
std::optional<std::int32_t> serialNumberEntry(const QString &text);

// Octets 4 to 6 from a serial number: s / 65536 (truncated toward zero),
// (s AND 0xFFFF) / 256 and s AND 0xFF. Only 0 to 16777215 give three octets
// that fit a byte; a larger number gives an octet 4 above 255 and a negative
// one an octet 4 of 0 or below, which the send refuses.
std::array<int, 3> serialNumberOctets(std::int32_t serial);

// An octet box's text: at least two upper-case hexadecimal digits. A value
// that does not fit a byte is shown whole (256 is "100", -1 is "FFFFFFFF").
QString macOctetText(int value);

// The serial number that octets 4 to 6 stand for: the hexadecimal number their
// texts form when joined in order, 0 when that is not hexadecimal or does not
// fit the signed 32-bit range.
std::int32_t serialNumberFromOctetTexts(const QString &octet4, const QString &octet5,
                                        const QString &octet6);

// One octet box when the address is sent: one or more hexadecimal digits
// worth 0 to 255; no value otherwise (empty text included).
std::optional<std::uint16_t> macOctetValue(const QString &text);

// Whether an address may be programmed into a unit: its first three octets
// are a unicast prefix (the multicast bit of octet 1 clear) and neither all
// zeros nor all ones. Every octet is taken as a byte.
bool macPrefixUsable(const std::array<std::uint16_t, 6> &octets);
