#pragma once

// The texts that go with the live status: the G50 link and Mnet lines, the
// process-activity captions and the bit-switch meanings. Kept apart from the
// widgets so that a report says exactly what the tool's pages say.

#include "StatusBlock.h"

#include <QString>

#include <array>

// "G50 Comms Link OK" or "G50 Comms Link Error".
QString g50LinkText(const StatusBlock &status);
// "Mnet Comms OK", "Mnet Comms Initialising..." or, without a G50 link,
// "Mnet Comms State Unknown".
QString mnetText(const StatusBlock &status);

// Captions of bits 0 to 4 of the G50 and the BACnet process flags.
extern const std::array<const char *, 5> G50ProcessCaptions;
extern const std::array<const char *, 5> BACnetProcessCaptions;

// Bank A switches 1 and 2: a set bit (0x20 for switch 1, 0x10 for switch 2)
// means the switch is OFF.
constexpr std::uint16_t Switch1Mask = 0x20;
constexpr std::uint16_t Switch2Mask = 0x10;
// "ON" or "OFF".
QString switchStateText(const StatusBlock &status, int switchNumber);
// What the switch's setting means; lines separated by '\n'.
QString switchMeaning(const StatusBlock &status, int switchNumber);
