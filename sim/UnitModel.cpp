#include "UnitModel.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int SystemUnit = 19;
constexpr int NetworkUnit = 20;
constexpr int StatusUnit = 21;
constexpr int BACnetUnit = 22;
constexpr int NamesUnit = 26;

constexpr int IpRegister = 7; // four registers, one octet each
constexpr int ProductRegister = 20;
constexpr int FirmwareRegister = 21;
constexpr std::uint16_t FactoryProduct = 5173;
constexpr std::uint16_t FactoryFirmware = 134;
constexpr std::uint16_t LockedWord = 61404;
constexpr int RingSize = 4352;

// BACnet option registers in the status space: kept when written, saved in
// the state file, never touched by the animation.
constexpr int OptionsFirst = 4;
constexpr int OptionsLast = 10;

void setOctets(QVector<std::uint16_t> &space, int first, std::initializer_list<int> octets)
{
    int reg = first;
    for (int octet : octets)
        space[reg++] = std::uint16_t(octet);
}

// Packs a byte string two bytes per register, even byte in the high half.
void packBytes(QVector<std::uint16_t> &space, int first, const QByteArray &bytes, int registers)
{
    for (int k = 0; k < registers; ++k) {
        const auto byteAt = [&](int i) {
            return i < bytes.size() ? std::uint8_t(bytes[i]) : 0;
        };
        space[first + k] = std::uint16_t(byteAt(2 * k) << 8 | byteAt(2 * k + 1));
    }
}

// A state file holds a few thousand numbers: anything much larger is not one.
constexpr qint64 MaxStateBytes = 1024 * 1024;

#ifdef Q_OS_WIN
// Windows has no FIFOs or device nodes under ordinary paths: a plain read,
// bounded in size all the same.
bool readStateFile(const QString &path, QByteArray *text, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("not a regular file");
        return false;
    }
    *text = file.read(MaxStateBytes + 1);
    if (text->size() > MaxStateBytes) {
        *error = QStringLiteral("larger than %1 bytes").arg(MaxStateBytes);
        return false;
    }
    return true;
}
#else
QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Reads the open file when it is a regular file of at most MaxStateBytes,
// checking the size again while reading: the file may grow meanwhile.
bool readRegularFile(int fd, QByteArray *text, QString *error)
{
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        *error = systemError();
        return false;
    }
    const QString tooLarge = QStringLiteral("larger than %1 bytes").arg(MaxStateBytes);
    if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("not a regular file");
        return false;
    }
    if (info.st_size > MaxStateBytes) {
        *error = tooLarge;
        return false;
    }
    for (;;) {
        char chunk[16384];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = systemError();
            return false;
        }
        if (text->size() + got > MaxStateBytes) {
            *error = tooLarge;
            return false;
        }
        text->append(chunk, int(got));
    }
}

// Opened without blocking, so a FIFO or a device at that path is refused
// instead of waited on or read without end.
bool readStateFile(const QString &path, QByteArray *text, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    const bool ok = readRegularFile(fd, text, error);
    ::close(fd);
    return ok;
}
#endif

bool isKeptRegister(int unit, int reg)
{
    return unit != StatusUnit || (reg >= OptionsFirst && reg <= OptionsLast);
}

} // namespace

UnitModel::UnitModel(const SimOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    for (const auto &[unit, size] : spaceSizes())
        m_spaces[unit] = QVector<std::uint16_t>(size, 0);
    setFactoryValues();
    m_sinceStart.start();
    m_animation.setInterval(250);
    connect(&m_animation, &QTimer::timeout, this, &UnitModel::tick);
    if (m_options.animate) {
        animateTo(0);
        m_animation.start();
    }
}

const std::map<int, int> &UnitModel::spaceSizes()
{
    static const std::map<int, int> sizes{
        {SystemUnit, 64}, {NetworkUnit, 64}, {StatusUnit, 40}, {BACnetUnit, 16}, {NamesUnit, 1000}};
    return sizes;
}

bool UnitModel::hasSpace(int unit) const
{
    return m_spaces.count(unit) != 0;
}

bool UnitModel::inRange(int unit, int start, int count) const
{
    const auto space = m_spaces.find(unit);
    return space != m_spaces.end() && start >= 0 && count > 0 &&
           start + count <= space->second.size();
}

bool UnitModel::isReadOnly(int unit, int start, int count) const
{
    return unit == SystemUnit && start <= FirmwareRegister && start + count > ProductRegister;
}

std::uint16_t UnitModel::value(int unit, int reg) const
{
    return m_spaces.at(unit).at(reg);
}

std::array<std::uint16_t, 4> UnitModel::ipOctets() const
{
    const QVector<std::uint16_t> &network = m_spaces.at(NetworkUnit);
    return {network[IpRegister], network[IpRegister + 1], network[IpRegister + 2],
            network[IpRegister + 3]};
}

QVector<std::uint16_t> UnitModel::read(int unit, int start, int count) const
{
    return m_spaces.at(unit).mid(start, count);
}

void UnitModel::write(int unit, int start, const QVector<std::uint16_t> &values)
{
    auto &space = m_spaces.at(unit);
    std::copy(values.begin(), values.end(), space.begin() + start);
    QString error;
    if (!m_options.statePath.isEmpty() && !saveState(&error))
        qWarning("ravelin-sim: cannot save the state file: %s", qPrintable(error));
}

void UnitModel::setFactoryValues()
{
    auto &system = m_spaces[SystemUnit];
    system[ProductRegister] = m_options.product.value_or(FactoryProduct);
    system[FirmwareRegister] = m_options.firmware.value_or(FactoryFirmware);
    setOctets(system, 22, {0x02, 0x7A, 0x1C, 0x05, 0x17, 0x3A}); // locally administered MAC
    system[32] = m_options.locked ? LockedWord : 0;

    // Documentation-range example addresses: only ever data, never contacted.
    auto &network = m_spaces[NetworkUnit];
    setOctets(network, IpRegister, {192, 0, 2, 10, 192, 0, 2, 1, 255, 255, 255, 0, 192, 0, 2, 20});

    // Device instance 5173, name "Ravelin-5173" (tag 7, length + 1, charset 0).
    auto &bacnet = m_spaces[BACnetUnit];
    constexpr int instance = 5173;
    bacnet[0] = 3076;
    bacnet[1] = std::uint16_t(512 + instance / 65536);
    bacnet[2] = std::uint16_t(instance % 65536);
    const QByteArray name("Ravelin-5173");
    packBytes(bacnet, 3, QByteArray("\x07", 1) + char(name.size() + 1) + '\0' + name, 11);

    auto &names = m_spaces[NamesUnit];
    for (int n = 1; n <= 100; ++n) {
        const QByteArray text = QByteArray("Unit") + QByteArray::number(n).rightJustified(3, '0');
        packBytes(names, (n - 1) * 10, char(text.size()) + text, 10);
    }

    auto &status = m_spaces[StatusUnit];
    setOctets(status, OptionsFirst, {1, 0, 0, 0, 0, 0});
    status[OptionsLast] = 1800;
    setSettledStatus();
}

// The status block of a unit that has been running for a while.
void UnitModel::setSettledStatus()
{
    auto &s = m_spaces[StatusUnit];
    s[0] = 1;                        // Mnet running
    s[3] = 1;                        // G50 link good
    s[14] = 0x1F;                    // every G50 process step done, cable connected
    s[15] = s[5] == 1 ? 0x1B : 0x11; // I-Am sent, Who-Is seen, registration if enabled
    s[18] = 2;                       // packets pending
    s[19] = 1200;                    // ring write position
    s[20] = 800;                     // ring boundary: 9 % in use
    s[21] = 18;                      // network interface chip revision
    s[22] = 4;                       // transmit buffers
    setOctets(s, 23, {1, 0, 1, 0});
    s[38] = 0x0507; // poll state 5, group 7
    s[39] = 0x0010; // bank A: switch 1 on, switch 2 off
}

void UnitModel::tick()
{
    animateTo(m_sinceStart.elapsed());
}

void UnitModel::animateTo(qint64 milliseconds)
{
    auto &s = m_spaces[StatusUnit];
    const qint64 t = milliseconds / 1000;
    const bool foreign = s[5] == 1;
    s[3] = t >= 2 ? 1 : 0;
    s[0] = t >= 4 ? 1 : 0;
    // Process flags light up one per second; the cable bit (4) is there at once.
    std::uint16_t g50 = 0x10;
    for (int bit = 0; bit < 4; ++bit)
        if (t > bit)
            g50 |= std::uint16_t(1u << bit);
    s[14] = g50;
    std::uint16_t bacnet = t >= 1 ? 0x01 : 0;
    if (foreign)
        bacnet |= std::uint16_t(0x02 | (t >= 3 ? 0x04 : 0) | (t >= 4 ? 0x08 : 0));
    if (t % 10 >= 5)
        bacnet |= 0x10; // a Who-Is now and then
    s[15] = bacnet;
    s[18] = std::uint16_t(t % 4);
    s[20] = std::uint16_t((t * 97) % RingSize);
    s[19] = std::uint16_t((s[20] + 100 + (t % 7) * 150) % RingSize);
    s[21] = 18;
    s[22] = 4;
    for (int i = 0; i < 4; ++i)
        s[23 + i] = std::uint16_t(((t + i) % 3) != 0);
    s[38] = std::uint16_t((2 + t % 9) << 8 | (1 + t % 50));
    s[39] = 0x0010;
}

void UnitModel::beginRestart()
{
    if (m_restarting)
        return;
    m_restarting = true;
    m_animation.stop();
    emit restartBegan();
    QTimer::singleShot(m_options.restartMs, this, [this] {
        m_restarting = false;
        m_sinceStart.restart();
        if (m_options.animate) {
            animateTo(0);
            m_animation.start();
        }
        emit restartEnded();
    });
}

bool UnitModel::loadState(QString *error)
{
    if (m_options.statePath.isEmpty() || !QFileInfo::exists(m_options.statePath))
        return true;
    QByteArray text;
    if (!readStateFile(m_options.statePath, &text, error))
        return false;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at byte %2")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return false;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("the JSON document is not an object of register spaces");
        return false;
    }
    const QJsonObject root = doc.object();
    for (auto &[unit, space] : m_spaces) {
        const QJsonArray values = root.value(QString::number(unit)).toArray();
        for (int reg = 0; reg < values.size() && reg < space.size(); ++reg) {
            const int v = values.at(reg).toInt(-1);
            if (v >= 0 && v <= 0xFFFF && isKeptRegister(unit, reg) && !isReadOnly(unit, reg, 1))
                space[reg] = std::uint16_t(v);
        }
    }
    return true;
}

bool UnitModel::saveState(QString *error) const
{
    QJsonObject root;
    for (const auto &[unit, space] : m_spaces) {
        QJsonArray values;
        for (int reg = 0; reg < space.size(); ++reg)
            values.append(isKeptRegister(unit, reg) ? int(space[reg]) : 0);
        root.insert(QString::number(unit), values);
    }
    QSaveFile file(m_options.statePath);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
