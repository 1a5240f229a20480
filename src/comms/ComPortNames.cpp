#include "ComPortNames.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <linux/serial.h>
#endif

namespace ComPortNames {
namespace {

QString overrideFor(int n)
{
    const QByteArray name = "RAVELIN_COM" + QByteArray::number(n);
    return QString::fromLocal8Bit(qgetenv(name.constData()));
}

QString tableDevice(int n)
{
#if defined(Q_OS_WIN)
    return QStringLiteral("\\\\.\\COM%1").arg(n);
#elif defined(Q_OS_MACOS)
    QStringList devices =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("cu.*")}, QDir::System, QDir::Name);
    return n <= devices.size() ? QStringLiteral("/dev/") + devices.at(n - 1) : QString();
#else
    struct Range
    {
        int firstPort;
        int lastPort;
        const char *prefix;
    };
    static const Range table[] = {
        {1, 4, "/dev/ttyS"},
        {5, 20, "/dev/ttyUSB"},
        {21, 32, "/dev/ttyACM"},
    };
    for (const Range &r : table) {
        if (n >= r.firstPort && n <= r.lastPort)
            return QString::fromLatin1(r.prefix) + QString::number(n - r.firstPort);
    }
    return QString();
#endif
}

#if !defined(Q_OS_WIN)
// The on-board UART nodes exist whether or not a UART is fitted; the driver
// reports an unknown port type for the missing ones.
bool uartFitted(int fd)
{
#if defined(Q_OS_LINUX)
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0)
        return info.type != PORT_UNKNOWN;
#else
    Q_UNUSED(fd);
#endif
    return true;
}
#endif

} // namespace

QString portName(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

QString deviceForPort(int n)
{
    if (n < 1)
        return QString();
    const QString overridden = overrideFor(n);
    return overridden.isEmpty() ? tableDevice(n) : overridden;
}

bool portExists(int n)
{
    const QString device = deviceForPort(n);
    if (device.isEmpty())
        return false;
#if defined(Q_OS_WIN)
    // Asking for the default configuration succeeds only for an installed port.
    COMMCONFIG config{};
    DWORD size = sizeof config;
    const std::wstring name = portName(n).toStdWString();
    return GetDefaultCommConfigW(name.c_str(), &config, &size) != 0;
#else
    const QByteArray native = QFile::encodeName(device);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::isatty(fd) && uartFitted(fd);
    ::close(fd);
    return ok;
#endif
}

QStringList findInstalledPorts()
{
    QStringList found;
    for (int n = FirstSearchedPort; n <= LastSearchedPort; ++n) {
        if (portExists(n))
            found.append(portName(n));
    }
    return found;
}

QString describePort(int n)
{
    const QString device = deviceForPort(n);
    return device.isEmpty() ? portName(n) : QStringLiteral("%1 (%2)").arg(portName(n), device);
}

} // namespace ComPortNames
