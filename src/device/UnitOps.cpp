#include "UnitOps.h"

#include "Codecs.h"

#include <QtGlobal>

#include <algorithm>

// The value types that are register images are sized by their blocks. The
// others (product, BACnet) are filled row by row; the rows' places inside
// their blocks are checked by the table tests.
static_assert(Blocks::NetworkAddresses.count == std::tuple_size<NetworkAddresses>::value);
static_assert(Blocks::G50Address.count == std::tuple_size<Octets4>::value);
static_assert(Blocks::MacAddress.count == std::tuple_size<decltype(ProductInfo::mac)>::value);
static_assert(Blocks::Status.count == StatusBlockSize);

using ProductRegisters = std::array<std::uint16_t, Blocks::Product.count>;

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
    return settingFits(ObjectNameRow.codec, name);
}

ProductInfo decodeProduct(const ProductRegisters &r)
{
    ProductInfo info;
    decodeBlock(IdentityRows, Blocks::Product, r.data(), info);
    return info;
}

// The network rows of one block, with the addresses and the lock given.
NetworkConfig networkValue(const NetworkAddresses &addresses, bool allowConfigViaNetwork)
{
    return NetworkConfig{addresses, allowConfigViaNetwork};
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
    ProductRegisters product{};
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
    ProductRegisters product{};
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
    const NetworkConfig value = networkValue(addresses, true);
    if (!blockFits(NetworkRows, Blocks::NetworkAddresses, value))
        return refused();
    OpResult op;
    writeStep(
        access, Blocks::NetworkAddresses,
        encodeBlock<Blocks::NetworkAddresses.count>(NetworkRows, Blocks::NetworkAddresses, value),
        op);
    return op;
}

OpResult writeConfigLock(RegisterAccess &access, bool allowConfigViaNetwork)
{
    OpResult op;
    writeStep(access, Blocks::ConfigLock,
              encodeBlock<1>(NetworkRows, Blocks::ConfigLock,
                             networkValue(NetworkAddresses{}, allowConfigViaNetwork)),
              op);
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
    std::array<std::uint16_t, Blocks::G50Address.count> registers{};
    if (!readStep(access, Blocks::G50Address, registers, op))
        return op;
    Octets4 address{};
    decodeBlock(G50Rows, Blocks::G50Address, registers.data(), address);
    out = address;
    return op;
}

OpResult writeG50Address(RegisterAccess &access, const Octets4 &address)
{
    if (!blockFits(G50Rows, Blocks::G50Address, address))
        return refused();
    OpResult op;
    writeStep(access, Blocks::G50Address,
              encodeBlock<Blocks::G50Address.count>(G50Rows, Blocks::G50Address, address), op);
    return op;
}

// --- BACnet page ---

OpResult readBACnetSettings(RegisterAccess &access, BACnetReading &out)
{
    out = BACnetReading{};
    OpResult op;
    BACnetSettings s;
    std::array<std::uint16_t, Blocks::DeviceObjectId.count> id{};
    if (!readStep(access, Blocks::DeviceObjectId, id, op))
        return op;
    decodeBlock(BACnetRows, Blocks::DeviceObjectId, id.data(), s);
    out.instance = s.instance;
    std::array<std::uint16_t, Blocks::DeviceObjectName.count> name{};
    if (!readStep(access, Blocks::DeviceObjectName, name, op))
        return op;
    decodeBlock(BACnetRows, Blocks::DeviceObjectName, name.data(), s);
    out.name = s.name;
    std::array<std::uint16_t, Blocks::BACnetOptions.count> options{};
    if (!readStep(access, Blocks::BACnetOptions, options, op))
        return op;
    decodeBlock(BACnetRows, Blocks::BACnetOptions, options.data(), s);
    out.options = s.options;
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
    if ((parts.instance && !blockFits(BACnetRows, Blocks::DeviceObjectId, settings)) ||
        (parts.name && !blockFits(BACnetRows, Blocks::DeviceObjectName, settings)) ||
        (parts.options && !blockFits(BACnetRows, Blocks::BACnetOptions, settings)))
        return refused();
    OpResult op;
    if (parts.instance && !writeStep(access, Blocks::DeviceObjectId,
                                     encodeBlock<Blocks::DeviceObjectId.count>(
                                         BACnetRows, Blocks::DeviceObjectId, settings),
                                     op))
        return op;
    if (parts.name && !writeStep(access, Blocks::DeviceObjectName,
                                 encodeBlock<Blocks::DeviceObjectName.count>(
                                     BACnetRows, Blocks::DeviceObjectName, settings),
                                 op))
        return op;
    if (parts.options)
        writeStep(
            access, Blocks::BACnetOptions,
            encodeBlock<Blocks::BACnetOptions.count>(BACnetRows, Blocks::BACnetOptions, settings),
            op);
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
        name = std::get<QByteArray>(decodeSetting(ObjectNameRow.codec, record.data()));
    return op;
}

OpResult writeObjectName(RegisterAccess &access, int n, const QByteArray &name)
{
    if (!validNameNumber(n) || !objectNameFits(name))
        return refused();
    OpResult op;
    std::array<std::uint16_t, ObjectNameRegisters> record{};
    encodeSetting(ObjectNameRow.codec, name, record.data());
    writeStep(access, objectNameBlock(n), record, op);
    return op;
}

OpResult readObjectNames(RegisterAccess &access, ObjectNameList &names,
                         const NameProgress &progress, const StopRequested &stop)
{
    OpResult op;
    for (int n = 1; n <= ObjectNameCount && op.ok(); ++n) {
        if (progress)
            progress(n);
        if (stop && stop()) {
            op.stopped = true;
            break;
        }
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
