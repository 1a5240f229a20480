#pragma once

// Pure conversions between the unit's registers and what the pages show.

#include "DottedQuad.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The number-entry rule for every value typed into a box: leading spaces, an
// optional sign and the hexadecimal prefixes "$", "x" and "0x" are accepted.
// An empty text, any other character (trailing spaces included) or a value
// outside the signed 32-bit range gives defaultValue.
int parseEntryNumber(const QString &text, int defaultValue = -1);
// The same rule without a default: no value when the text is not a number.
std::optional<int> parseEntryValue(const QString &text);
// A number typed into a box and accepted only inside [min, max].
std::optional<int> entryNumberInRange(const QString &text, int min, int max);

// Boxes validated in a fixed order: every value, or the index of the first
// text that is not a whole number inside [min, max] (values then empty).
struct EntryCheck
{
    std::vector<int> values;
    int firstInvalid = -1;
    bool ok() const { return firstInvalid < 0; }
};
EntryCheck checkEntryNumbers(const QStringList &texts, int min, int max);

// An IPv4 address or any four octets, one register per octet.
using Octets4 = std::array<std::uint16_t, 4>;

// "192.0.2.10" as four octets, each by the number-entry rule ("010" is 10,
// "0x0A" is 10); nothing unless there are exactly four parts and each is an
// octet. The pages' address entries and ravelinctl's values take this rule.
std::optional<Octets4> dottedOctets(const QString &text);
// An address as a configuration file or a survey list holds it: one to three
// decimal digits per part and nothing else. `result` (when given) tells a
// malformed text from one with a number above 255.
std::optional<Octets4> fileAddress(const QString &text, DottedQuadResult *result = nullptr);
// The one written form of an address: plain decimal parts with dots,
// "192.0.2.10", never zero-filled (a zero-filled part is read as octal by
// many programs). A register too wide for an octet is shown whole
// ("10.0.0.300"), so it is refused when entered back.
QString dottedText(const std::uint16_t *octets, int count = 4);

// An octet box: at least three digits, zero-filled ("001"); larger values are
// shown whole ("300").
QString octetText(int value);

// "QX5173 v1.34" for product 5173 and firmware 134.
QString firmwareLabel(std::uint16_t productCode, std::uint16_t firmware);

// "A0:0B:08:12:34:56": two upper-case hexadecimal digits at least per register.
QString macLabel(const std::uint16_t registers[6]);

// Firmware version number in hundredths as text: 134 gives "1.34".
QString firmwareVersionText(std::uint16_t firmware);

// BACnet Device object identifier (registers 0 to 2 of the BACnet space): an
// application tag (12, length 4) and the 32-bit identifier of object type 8.
constexpr std::uint32_t MaxDeviceInstance = 4194302; // 0x3FFFFE; 0x3FFFFF is not an instance
std::array<std::uint16_t, 3> encodeDeviceObjectId(std::uint32_t instance);
std::uint32_t decodeDeviceInstance(const std::uint16_t registers[3]);
inline bool isValidDeviceInstance(long long instance)
{
    return instance >= 0 && instance <= MaxDeviceInstance;
}

// BACnet Device object name (registers 3 to 13): tag 7, length + 1, character
// set 0, then at most 19 one-byte characters, two bytes per register, even
// byte in the high half.
constexpr int MaxDeviceNameLength = 19;
std::array<std::uint16_t, 11> encodeDeviceName(const QByteArray &name);
QByteArray decodeDeviceName(const std::uint16_t registers[11]);

// An object-name record: 20 bytes, a length byte then at most 19 characters,
// two bytes per register, even byte in the high half.
constexpr int MaxObjectNameLength = 19;
std::array<std::uint16_t, 10> encodeObjectName(const QByteArray &name);
QByteArray decodeObjectName(const std::uint16_t registers[10]);

// Names (the BACnet device name and the object names) travel as one byte per
// character. Bytes from the unit are shown as Latin-1, so every byte has one
// character and is sent back as the same byte.
QString nameText(const QByteArray &bytes);
// The bytes to send for a name box's text; no value when a character has no
// Latin-1 byte (it could not be sent unaltered).
std::optional<QByteArray> nameBytes(const QString &text);

// Ascending numbers as runs for people to read: {1, 2, 3, 7, 9, 10} is
// "1-3, 7, 9-10" (or "1 to 3, 7, 9 to 10" with " to " between).
QString numberRanges(const std::vector<int> &numbers, const QString &between = QStringLiteral("-"));
