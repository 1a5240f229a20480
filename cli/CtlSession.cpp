#include "CtlSession.h"

#include "Codecs.h"
#include "ComPortNames.h"
#include "UnitOps.h"

#include <QJsonArray>

namespace {

QJsonArray jsonValues(const std::uint16_t *values, int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(int(values[i]));
    return array;
}

QString joinValues(const std::uint16_t *values, int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString::number(values[i]);
    return parts.join(QLatin1Char(' '));
}

void fail(CtlOutput &out, const OpResult &op, const QString &what)
{
    out.exitCode = exitForResult(op.result);
    out.lines << QStringLiteral("%1: %2").arg(what, describeCause(op));
    out.json.insert(QStringLiteral("error"), describeCause(op));
    out.json.insert(QStringLiteral("result"), int(op.result));
    out.json.insert(QStringLiteral("failed"), what);
}

} // namespace

int exitForResult(RegisterResult result)
{
    switch (result) {
    case ResultGood:
        return ExitOk;
    case ResultException:
        return ExitException;
    case ResultNoReply:
        return ExitNoReply;
    default:
        return ExitFailure; // an invalid reply (a wrong CRC, say) or a refused request
    }
}

CtlSession::CtlSession(const QString &host, std::uint16_t port, std::uint16_t timeoutTenths)
{
    m_client.setRemoteHost(host);
    m_client.setRemotePort(port);
    m_access.useTcp(m_client);
    m_access.tcpTimeout = timeoutTenths;
}

CtlSession::CtlSession(int comPort, const QString &device, std::uint16_t timeoutTenths)
    : m_serial(std::make_unique<TVeskComms>())
{
    m_serial->CommPort = comPort - 1;
    m_serial->DevicePath = device;
    // Room for the largest read reply (5 + 2 x 97 bytes) behind stray bytes
    // that a line may carry before it; the reply is copied from its unit id on.
    m_serial->RxBufferSize = CtlRxBufferSize;
    m_access.useSerial(*m_serial);
    m_access.rtuTimeout = timeoutTenths;
}

bool CtlSession::connect(QString *error)
{
    if (m_serial) {
        const QString what = m_serial->DevicePath.isEmpty()
                                 ? ComPortNames::describePort(m_serial->CommPort + 1)
                                 : m_serial->DevicePath;
        try {
            if (m_serial->OpenPort())
                return true;
            *error = QStringLiteral("cannot open %1 (missing, in use or no rights)").arg(what);
        } catch (const ECommsError &e) {
            *error = QStringLiteral("cannot open %1: %2").arg(what, QString::fromLatin1(e.what()));
        }
        return false;
    }
    if (m_client.open())
        return true;
    *error = QStringLiteral("cannot connect to %1:%2: %3")
                 .arg(m_client.remoteHost())
                 .arg(m_client.remotePort())
                 .arg(m_client.lastError());
    return false;
}

void CtlSession::reportLostConnection(CtlOutput &out)
{
    if (out.exitCode != ExitNoReply || m_serial || !m_client.connectionLost())
        return;
    // Nothing came because the unit hung up, not because it was slow.
    const QString error = QStringLiteral("the connection was closed without a reply");
    const QString what = out.json.value(QStringLiteral("failed")).toString();
    out.exitCode = ExitFailure;
    if (!out.lines.isEmpty())
        out.lines.removeLast(); // the "no reply in time" line of the failure
    out.lines << (what.isEmpty() ? error : QStringLiteral("%1: %2").arg(what, error));
    out.json.insert(QStringLiteral("error"), error);
}

bool CtlSession::readBlock(int unit, int fn, int start, int count, std::uint16_t *values,
                           CtlOutput &out, const QString &what)
{
    const RegisterResult result = m_access.ReadRegisters(
        unit, std::uint8_t(fn), std::uint16_t(start), std::uint16_t(count), values);
    if (result == ResultGood)
        return true;
    fail(out, {result, std::nullopt, m_access.lastExchange()}, what);
    return false;
}

bool CtlSession::opSucceeded(const OpResult &op, CtlOutput &out, const QString &what)
{
    if (op.ok())
        return true;
    fail(out, op, what);
    return false;
}

CtlOutput CtlSession::identify()
{
    CtlOutput out;
    std::uint16_t id[2] = {};
    const RegisterBlock &b = Blocks::Identity;
    if (!readBlock(b.unitId, b.readFunction, b.start, b.count, id, out, QStringLiteral("identity")))
        return out;
    const bool ours = id[0] == QuorixProductCode;
    out.lines << QStringLiteral("product %1 firmware %2%3")
                     .arg(id[0])
                     .arg(firmwareVersionText(id[1]))
                     .arg(ours ? QString() : QStringLiteral(" (not a Quorix Ravelin unit)"));
    out.json.insert(QStringLiteral("product"), id[0]);
    out.json.insert(QStringLiteral("firmware"), id[1]);
    out.json.insert(QStringLiteral("label"), firmwareLabel(id[0], id[1]));
    out.json.insert(QStringLiteral("ravelin"), ours);
    return out;
}

CtlOutput CtlSession::read(int unit, int fn, int start, int count)
{
    CtlOutput out;
    std::vector<std::uint16_t> values(std::size_t(count), 0);
    if (!readBlock(unit, fn, start, count, values.data(), out, QStringLiteral("read")))
        return out;
    out.lines << joinValues(values.data(), count);
    out.json.insert(QStringLiteral("unit"), unit);
    out.json.insert(QStringLiteral("start"), start);
    out.json.insert(QStringLiteral("values"), jsonValues(values.data(), count));
    return out;
}

CtlOutput CtlSession::write(int unit, int fn, int start, const std::vector<std::uint16_t> &values)
{
    CtlOutput out;
    const RegisterResult result = m_access.WriteRegisters(
        unit, std::uint8_t(fn), std::uint16_t(start), std::uint16_t(values.size()), values.data());
    if (result != ResultGood) {
        fail(out, {result, std::nullopt, m_access.lastExchange()}, QStringLiteral("write"));
        return out;
    }
    out.lines << QStringLiteral("wrote %1 register(s) from %2 of unit %3")
                     .arg(values.size())
                     .arg(start)
                     .arg(unit);
    out.json.insert(QStringLiteral("written"), int(values.size()));
    return out;
}

CtlOutput CtlSession::writeOne(int unit, int fn, int reg, std::uint16_t value)
{
    CtlOutput out;
    const RegisterResult result =
        m_access.WriteRegister(unit, std::uint8_t(fn), std::uint16_t(reg), value);
    if (result != ResultGood) {
        fail(out, {result, std::nullopt, m_access.lastExchange()}, QStringLiteral("write1"));
        return out;
    }
    out.lines << QStringLiteral("wrote %1 to register %2 of unit %3").arg(value).arg(reg).arg(unit);
    out.json.insert(QStringLiteral("written"), 1);
    return out;
}

CtlOutput CtlSession::restart()
{
    const RegisterBlock &b = Blocks::Restart;
    CtlOutput out = writeOne(b.unitId, b.writeFunction, b.start, RestartCommandWord);
    if (out.exitCode == ExitOk)
        out.lines = QStringList{QStringLiteral("restart command sent")};
    return out;
}

CtlOutput CtlSession::names()
{
    CtlOutput out;
    ObjectNameList names;
    int reached = 0; // the name whose exchange ran last
    const OpResult op = readObjectNames(m_access, names, [&reached](int n) { reached = n; });
    const int good = op.ok() ? ObjectNameCount : reached - 1;
    QJsonArray list;
    for (int n = 1; n <= good; ++n) {
        const QString name = QString::fromLatin1(names[std::size_t(n - 1)]);
        out.lines << QStringLiteral("%1 %2").arg(n, 3, 10, QLatin1Char('0')).arg(name);
        list.append(name);
    }
    if (!opSucceeded(op, out, QStringLiteral("object name %1").arg(reached)))
        return out;
    out.json.insert(QStringLiteral("names"), list);
    return out;
}
