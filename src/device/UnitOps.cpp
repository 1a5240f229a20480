#include "UnitOps.h"

#include "Codecs.h"

#include <QtGlobal>

#include <algorithm>

// The value types are sized by the blocks they come from.
static_assert(Blocks::NetworkAddresses.count == std::tuple_size<NetworkAddresses>::value);
static_assert(Blocks::G50Address.count == std::tuple_size<Octets4>::value);
static_assert(Blocks::Product.count == 2 + std::tuple_size<decltype(ProductInfo::mac)>::value);
static_assert(Blocks::MacAddress.count == std::tuple_size<decltype(ProductInfo::mac)>::value);
static_assert(Blocks::DeviceObjectId.count == 3 && Blocks::DeviceObjectName.count == 11);
static_assert(Blocks::BACnetOptions.count == 7 && Blocks::Status.count == StatusBlockSize);

namespace {

// Records one exchange in the chain's outcome, with why it came to that;
// false ends the chain.
bool record(OpResult &op, const RegisterBlock &block, RegisterResult result,
            const ExchangeDetail &detail)
{
    op.result = result;
    op.detail = detail;
    if (result == ResultGood)
        return true;
    op.failedBlock = block;
    return false;
}

template <std::size_t N>
bool readStep(RegisterAccess &access, const RegisterBlock &block,
              std::array<std::uint16_t, N> &buffer, OpResult &op)
{
    Q_ASSERT(block.count <= N);
    buffer.fill(0);
    return record(op, block, access.ReadBlock(block, buffer.data()), access.lastExchange());
}

template <std::size_t N>
bool writeStep(RegisterAccess &access, const RegisterBlock &block,
               const std::array<std::uint16_t, N> &buffer, OpResult &op)
{
    Q_ASSERT(block.count <= N);
    return record(op, block, access.WriteBlock(block, buffer.data()), access.lastExchange());
}

bool writeWordStep(RegisterAccess &access, const RegisterBlock &block, std::uint16_t value,
                   OpResult &op)
{
    return writeStep(access, block, std::array<std::uint16_t, 1>{value}, op);
}

// A request refused before anything was sent: a value the unit's registers
// cannot carry.
OpResult refused()
{
    return OpResult{ResultFailure, std::nullopt, refusedDetail(Refusal::Values)};
}

template <std::size_t N> bool octetsValid(const std::array<std::uint16_t, N> &octets)
{
    return std::all_of(octets.begin(), octets.end(), [](std::uint16_t v) { return v <= 255; });
}

bool validNameNumber(int n)
{
    return n >= 1 && n <= ObjectNameCount;
}

bool objectNameFits(const QByteArray &name)
{
    return name.size() <= MaxObjectNameLength;
}

template <std::size_t N, std::size_t M>
std::array<std::uint16_t, N> slice(const std::array<std::uint16_t, M> &from, std::size_t at)
{
    static_assert(N <= M);
    std::array<std::uint16_t, N> part{};
    std::copy_n(from.begin() + std::ptrdiff_t(at), N, part.begin());
    return part;
}

ProductInfo decodeProduct(const std::array<std::uint16_t, 8> &r)
{
    ProductInfo info;
    info.productCode = r[0];
    info.firmware = r[1];
    info.mac = slice<6>(r, 2);
    return info;
}

BACnetOptions decodeOptions(const std::array<std::uint16_t, 7> &r)
{
    BACnetOptions options;
    options.newSettingComparison = r[0] == 1;
    options.foreignDevice = r[1] == 1;
    options.bbmd = slice<4>(r, 2);
    options.timeToLive = r[6];
    return options;
}

std::array<std::uint16_t, 7> encodeOptions(const BACnetOptions &options)
{
    return {std::uint16_t(options.newSettingComparison ? 1 : 0),
            std::uint16_t(options.foreignDevice ? 1 : 0),
            options.bbmd[0],
            options.bbmd[1],
            options.bbmd[2],
            options.bbmd[3],
            options.timeToLive};
}

} // namespace

// --- Network page ---

OpResult readNetworkSettings(RegisterAccess &access, NetworkReading &out)
{
    out = NetworkReading{};
    OpResult op;
    NetworkAddresses addresses{};
    if (!readStep(access, Blocks::NetworkAddresses, addresses, op))
        return op;
    out.addresses = addresses;
    std::array<std::uint16_t, 8> product{};
    if (!readStep(access, Blocks::Product, product, op))
        return op;
    out.product = decodeProduct(product);
    std::array<std::uint16_t, 1> lock{};
    if (!readStep(access, Blocks::ConfigLock, lock, op))
        return op;
    out.lockWord = lock[0];
    return op;
}

OpResult readProductInfo(RegisterAccess &access, ProductInfo &out)
{
    OpResult op;
    std::array<std::uint16_t, 8> product{};
    if (readStep(access, Blocks::Product, product, op))
        out = decodeProduct(product);
    return op;
}

OpResult writeNetworkSettings(RegisterAccess &access, const NetworkAddresses &addresses,
                              bool allowConfigViaNetwork)
{
    const OpResult op = writeNetworkAddresses(access, addresses);
    return op.ok() ? writeConfigLock(access, allowConfigViaNetwork) : op;
}

OpResult writeNetworkAddresses(RegisterAccess &access, const NetworkAddresses &addresses)
{
    if (!octetsValid(addresses))
        return refused();
    OpResult op;
    writeStep(access, Blocks::NetworkAddresses, addresses, op);
    return op;
}

OpResult writeConfigLock(RegisterAccess &access, bool allowConfigViaNetwork)
{
    OpResult op;
    writeWordStep(access, Blocks::ConfigLock, allowConfigViaNetwork ? 0 : ConfigLockedWord, op);
    return op;
}

bool sameUnit(const ProductInfo &opened, const ProductInfo &now)
{
    return opened.productCode == now.productCode && opened.firmware == now.firmware &&
           opened.mac == now.mac;
}

OpResult sendRestartCommand(RegisterAccess &access)
{
    OpResult op;
    writeWordStep(access, Blocks::Restart, RestartCommandWord, op);
    return op;
}

// --- G50 page ---

OpResult readG50Address(RegisterAccess &access, std::optional<Octets4> &out)
{
    out.reset();
    OpResult op;
    Octets4 address{};
    if (readStep(access, Blocks::G50Address, address, op))
        out = address;
    return op;
}

OpResult writeG50Address(RegisterAccess &access, const Octets4 &address)
{
    if (!octetsValid(address))
        return refused();
    OpResult op;
    writeStep(access, Blocks::G50Address, address, op);
    return op;
}

// --- BACnet page ---

OpResult readBACnetSettings(RegisterAccess &access, BACnetReading &out)
{
    out = BACnetReading{};
    OpResult op;
    std::array<std::uint16_t, 3> id{};
    if (!readStep(access, Blocks::DeviceObjectId, id, op))
        return op;
    out.instance = decodeDeviceInstance(id.data());
    std::array<std::uint16_t, 11> name{};
    if (!readStep(access, Blocks::DeviceObjectName, name, op))
        return op;
    out.name = decodeDeviceName(name.data());
    std::array<std::uint16_t, 7> options{};
    if (!readStep(access, Blocks::BACnetOptions, options, op))
        return op;
    out.options = decodeOptions(options);
    return op;
}

OpResult writeBACnetSettings(RegisterAccess &access, const BACnetSettings &settings)
{
    return writeBACnetSettings(access, settings, BACnetParts{});
}

OpResult writeBACnetSettings(RegisterAccess &access, const BACnetSettings &settings,
                             BACnetParts parts)
{
    // The codecs would cut a long name short and wrap a large instance into
    // another one; neither may reach the unit.
    if ((parts.instance && !isValidDeviceInstance(settings.instance)) ||
        (parts.name && settings.name.size() > MaxDeviceNameLength) ||
        (parts.options && !octetsValid(settings.options.bbmd)))
        return refused();
    OpResult op;
    if (parts.instance &&
        !writeStep(access, Blocks::DeviceObjectId, encodeDeviceObjectId(settings.instance), op))
        return op;
    if (parts.name &&
        !writeStep(access, Blocks::DeviceObjectName, encodeDeviceName(settings.name), op))
        return op;
    if (parts.options)
        writeStep(access, Blocks::BACnetOptions, encodeOptions(settings.options), op);
    return op;
}

// --- Object names ---

OpResult readObjectName(RegisterAccess &access, int n, QByteArray &name)
{
    if (!validNameNumber(n))
        return refused();
    OpResult op;
    std::array<std::uint16_t, ObjectNameRegisters> record{};
    if (readStep(access, objectNameBlock(n), record, op))
        name = decodeObjectName(record.data());
    return op;
}

OpResult writeObjectName(RegisterAccess &access, int n, const QByteArray &name)
{
    if (!validNameNumber(n) || !objectNameFits(name))
        return refused();
    OpResult op;
    writeStep(access, objectNameBlock(n), encodeObjectName(name), op);
    return op;
}

OpResult readObjectNames(RegisterAccess &access, ObjectNameList &names,
                         const NameProgress &progress)
{
    OpResult op;
    for (int n = 1; n <= ObjectNameCount && op.ok(); ++n) {
        if (progress)
            progress(n);
        op = readObjectName(access, n, names[std::size_t(n - 1)]);
    }
    return op;
}

OpResult writeObjectNames(RegisterAccess &access, const ObjectNameList &names,
                          const NameProgress &progress)
{
    if (!std::all_of(names.begin(), names.end(), objectNameFits))
        return refused();
    OpResult op;
    for (int n = 1; n <= ObjectNameCount && op.ok(); ++n) {
        if (progress)
            progress(n);
        op = writeObjectName(access, n, names[std::size_t(n - 1)]);
    }
    return op;
}

OpResult writeSomeObjectNames(RegisterAccess &access, const ObjectNameList &names,
                              const std::vector<int> &numbers, int *written,
                              const NameProgress &progress)
{
    if (written)
        *written = 0;
    const bool valid = std::all_of(numbers.begin(), numbers.end(), [&names](int n) {
        return validNameNumber(n) && objectNameFits(names[std::size_t(n - 1)]);
    });
    if (!valid)
        return refused();
    OpResult op;
    for (int n : numbers) {
        if (progress)
            progress(n);
        op = writeObjectName(access, n, names[std::size_t(n - 1)]);
        if (!op.ok())
            break;
        if (written)
            ++*written;
    }
    return op;
}

// --- MAC address ---

OpResult writeMacAddress(RegisterAccess &access, const std::array<std::uint16_t, 6> &octets)
{
    if (!octetsValid(octets))
        return refused();
    OpResult op;
    writeStep(access, Blocks::MacAddress, octets, op);
    return op;
}

// --- Status ---

OpResult readStatusBlock(RegisterAccess &access, StatusBlock &out)
{
    OpResult op;
    std::array<std::uint16_t, StatusBlockSize> registers{};
    if (readStep(access, Blocks::Status, registers, op))
        out = decodeStatusBlock(registers.data());
    return op;
}

OpResult writeStatusPollWriteBack(RegisterAccess &access)
{
    OpResult op;
    writeWordStep(access, Blocks::StatusPollWriteBack, StatusPollWriteBackWord, op);
    return op;
}
