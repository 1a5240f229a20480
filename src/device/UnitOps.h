#pragma once

// The unit's configuration and status as plain values, with the operations
// that read and write them over the register access facade. The configuration
// tool's pages and ravelinctl both go through these, so a block is decoded and
// encoded in one place only.
//
// Every operation performs its blocks in a fixed order and stops at the first
// exchange whose result is not good. A read fills only the parts whose blocks
// were read (the optionals below), so a caller can keep showing what arrived
// before the failure; nothing is taken from a failed exchange. The optionals
// are emptied when the read starts, so a present value is always one that
// this read delivered; outputs that are not optional keep their old value
// when their block fails.
//
// A write refuses values that the unit's registers cannot carry (an octet
// above 255, a name or an instance out of range) before anything is sent:
// the result is then ResultFailure without a failed block.

#include "BACnetTable.h"
#include "G50Table.h"
#include "IdentityTable.h"
#include "NamesTable.h"
#include "NetworkTable.h"
#include "RegisterAccess.h"
#include "RegisterMap.h"
#include "StatusBlock.h"
#include "StatusTable.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The outcome of a chain of exchanges: the result of the last one performed,
// what that exchange came to (the verdict on its reply, an exception code,
// or why nothing was sent) and, on failure, the block whose exchange failed.
// describe() in Outcome.h turns it into a line for people.
struct OpResult
{
    RegisterResult result = ResultGood;
    std::optional<RegisterBlock> failedBlock;
    ExchangeDetail detail;
    // The caller asked the operation to stop, and it did so between two
    // exchanges, before all its blocks: not done, though nothing failed.
    bool stopped = false;

    bool ok() const { return result == ResultGood && !stopped; }
    // True when the request never left: nothing reached the unit.
    bool refusedBeforeSending() const { return !ok() && !detail.sent(); }
};

// --- Network page: addresses, product block, configuration lock, restart ---

// NetworkAddresses, NetworkConfig: NetworkTable.h; ProductInfo: IdentityTable.h.

struct NetworkReading
{
    std::optional<NetworkAddresses> addresses;
    std::optional<ProductInfo> product;
    std::optional<std::uint16_t> lockWord;
};

// Configuration via the network is allowed unless the lock register holds
// ConfigLockedWord.
inline bool configViaNetworkAllowed(std::uint16_t lockWord)
{
    return lockWord != ConfigLockedWord;
}

// Addresses, then the product block, then the lock register.
OpResult readNetworkSettings(RegisterAccess &access, NetworkReading &out);
// The product block alone (identity and MAC address).
OpResult readProductInfo(RegisterAccess &access, ProductInfo &out);
// The addresses, then the lock register (0 to allow, ConfigLockedWord to forbid).
// An octet above 255 is refused.
OpResult writeNetworkSettings(RegisterAccess &access, const NetworkAddresses &addresses,
                              bool allowConfigViaNetwork);
OpResult sendRestartCommand(RegisterAccess &access);
// The two blocks of writeNetworkSettings one at a time, for a caller that
// holds only one of them.
OpResult writeNetworkAddresses(RegisterAccess &access, const NetworkAddresses &addresses);
OpResult writeConfigLock(RegisterAccess &access, bool allowConfigViaNetwork);

// The identity a session opened with against the one read now: the same
// unit reports the same product code, firmware and MAC address.
bool sameUnit(const ProductInfo &opened, const ProductInfo &now);

// --- G50 page ---

OpResult readG50Address(RegisterAccess &access, std::optional<Octets4> &out);
// An octet above 255 is refused.
OpResult writeG50Address(RegisterAccess &access, const Octets4 &address);

// --- BACnet page ---

// BACnetOptions, BACnetSettings: BACnetTable.h.

struct BACnetReading
{
    std::optional<std::uint32_t> instance; // as read: may be 4194303, which is no instance
    std::optional<QByteArray> name;        // at most 19 bytes
    std::optional<BACnetOptions> options;
};

// Identifier, then name, then options.
OpResult readBACnetSettings(RegisterAccess &access, BACnetReading &out);
// Identifier, then name, then options, written as given (the page decides
// what a cleared foreign-device option sends as BBMD and time to live). A
// name longer than 19 bytes, an instance above 4194302 or a BBMD octet above
// 255 is refused before anything is sent (ResultFailure, no failed block).
OpResult writeBACnetSettings(RegisterAccess &access, const BACnetSettings &settings);
// Which of the three BACnet blocks a write covers.
struct BACnetParts
{
    bool instance = true;
    bool name = true;
    bool options = true;
};
// Only the parts asked for, in the same order and with the same refusals for
// the values they carry.
OpResult writeBACnetSettings(RegisterAccess &access, const BACnetSettings &settings,
                             BACnetParts parts);

// --- Object names ---

// ObjectNameList: NamesTable.h.

// Called before the exchange of name n (1 to 100).
using NameProgress = std::function<void(int n)>;

// One name; n outside 1 to 100, or a name longer than 19 bytes, is refused.
OpResult readObjectName(RegisterAccess &access, int n, QByteArray &name);
OpResult writeObjectName(RegisterAccess &access, int n, const QByteArray &name);
// Names 1 to 100 in order, stopping at the first failure; the names before it
// are stored in `names`, the failed and later entries are left as they were.
// Asked before each exchange of a long operation; true stops it there
// (OpResult::stopped).
using StopRequested = std::function<bool()>;
OpResult readObjectNames(RegisterAccess &access, ObjectNameList &names,
                         const NameProgress &progress = {}, const StopRequested &stop = {});
// Names 1 to 100 in order, stopping at the first failure (the names before it
// have been written). A name longer than 19 bytes is refused before anything
// is sent.
OpResult writeObjectNames(RegisterAccess &access, const ObjectNameList &names,
                          const NameProgress &progress = {});
// Only the names whose numbers are listed, in the order listed, stopping at
// the first failure. `written` counts the names written before it.
OpResult writeSomeObjectNames(RegisterAccess &access, const ObjectNameList &names,
                              const std::vector<int> &numbers, int *written = nullptr,
                              const NameProgress &progress = {});

// --- MAC address (serial sessions, service mode) ---

// Function 104, whichever transport the session runs over; the dialog that
// calls it is what keeps it to serial sessions. An octet above 255 is refused.
OpResult writeMacAddress(RegisterAccess &access, const std::array<std::uint16_t, 6> &octets);

// --- Status ---

OpResult readStatusBlock(RegisterAccess &access, StatusBlock &out);
// The write-back every good status read is followed by (function 108).
OpResult writeStatusPollWriteBack(RegisterAccess &access);
