#include "ConnectReasons.h"

#include "RegisterMap.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <QFile>

#include <unistd.h>
#endif

QString tcpConnectReason(const QString &host, std::uint16_t port, const QString &error)
{
    return QStringLiteral("cannot connect to %1:%2: %3").arg(host).arg(port).arg(error);
}

QString refusedUnitReason(const OpResult &identityRead, std::uint16_t productCode)
{
    if (!identityRead.ok())
        return QStringLiteral("identity: %1").arg(describeCause(identityRead));
    return QStringLiteral("product code %1 found where %2 was expected")
        .arg(productCode)
        .arg(QuorixProductCode);
}

SerialDeviceState probeSerialDevice(const QString &devicePath)
{
    SerialDeviceState state;
    const QFileInfo info(devicePath);
    state.exists = !devicePath.isEmpty() && info.exists();
    if (!state.exists)
        return state;
    state.group = info.group();
#ifdef Q_OS_UNIX
    state.accessible = ::access(QFile::encodeName(devicePath).constData(), R_OK | W_OK) == 0;
#else
    state.accessible = info.isReadable() && info.isWritable();
#endif
    return state;
}

QString serialOpenReason(int comPort, const QString &devicePath, const SerialDeviceState &state)
{
    if (devicePath.isEmpty())
        return QStringLiteral("cannot open COM%1: no device stands for it on this system")
            .arg(comPort);
    const QString what = QStringLiteral("cannot open %1").arg(devicePath);
    if (!state.exists)
        return QStringLiteral("%1: the device is missing (unplugged or never there)").arg(what);
    if (!state.accessible) {
        if (state.group.isEmpty())
            return QStringLiteral("%1: not permitted").arg(what);
        return QStringLiteral("%1: not permitted; join the group \"%2\" and log in again")
            .arg(what, state.group);
    }
    return QStringLiteral("%1: in use by another program").arg(what);
}
