#include "AppSettings.h"

#include "IniFile.h"
#include "ModBusTCPPro.h"

#include <QFileInfo>
#include <QOperatingSystemVersion>

#include <limits>

namespace {
const QString Section = QStringLiteral("Options");
const QString PortKey = QStringLiteral("Comms_Port");
const QString AddressKey = QStringLiteral("IP_Address");
const QString TcpPortKey = QStringLiteral("IP_Port");
const QString RecentSection = QStringLiteral("Recent");
const QString RecentKey = QStringLiteral("Unit%1");

std::uint16_t parseTcpPort(const QString &text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535 ? std::uint16_t(port) : DefaultIPPort;
}
} // namespace

int parseCommsPort(const QString &text)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return 1;
    return int(v);
}

AppSettings loadSettings(const QString &path)
{
    AppSettings s;
    if (!QFileInfo::exists(path)) {
        saveSettings(path, s.comPort, s.ipAddress);
        return s;
    }
    IniFile ini;
    if (!ini.load(path))
        return s;
    if (const auto port = ini.value(Section, PortKey))
        s.comPort = parseCommsPort(*port);
    if (const auto address = ini.value(Section, AddressKey))
        s.ipAddress = *address;
    if (const auto port = ini.value(Section, TcpPortKey))
        s.tcpPort = parseTcpPort(*port);
    for (const auto &[key, value] : ini.entries(RecentSection))
        if (key.startsWith(QLatin1String("Unit"), Qt::CaseInsensitive))
            s.recentUnits << value;
    int octets[4] = {};
    if (!ParseIPAddress(s.ipAddress, octets)) {
        s.ipAddress = QString::fromLatin1(DefaultIPAddress);
        ParseIPAddress(s.ipAddress, octets);
    }
    for (int i = 0; i < 4; ++i)
        s.ipOctets[size_t(i)] = octets[i];
    return s;
}

bool saveSettings(const QString &path, int comPort, const QString &ipAddress,
                  std::optional<std::uint16_t> tcpPort)
{
    IniFile ini;
    if (!ini.load(path))
        return false; // never replace a file we could not read: its content would be lost
    ini.setValue(Section, PortKey, QString::number(comPort));
    ini.setValue(Section, AddressKey, ipAddress);
    if (tcpPort && (*tcpPort != DefaultIPPort || ini.value(Section, TcpPortKey)))
        ini.setValue(Section, TcpPortKey, QString::number(*tcpPort));
    return ini.save(path);
}

bool saveRecentUnits(const QString &path, const QStringList &entries)
{
    IniFile ini;
    if (!ini.load(path))
        return false;
    QList<std::pair<QString, QString>> lines;
    for (int i = 0; i < entries.size(); ++i)
        lines.append({RecentKey.arg(i + 1), entries[i]});
    ini.setEntries(RecentSection, lines);
    return ini.save(path);
}

bool isServiceCode(const QString &argument)
{
    // The code is assembled from scattered characters so that it does not
    // appear whole in the executable.
    static const char table[] = "k7Rq#vNaXeSlWi2cn8";
    static const int picks[12] = {2, 7, 5, 9, 11, 13, 16, 4, 10, 5, 15, 1};
    if (argument.size() != 12)
        return false;
    QString code;
    for (int index : picks)
        code += QLatin1Char(table[index]);
    return argument.compare(code, Qt::CaseInsensitive) == 0;
}

int classifyWindowsVersion(OsPlatform platform, int major, int minor, const QString &servicePack)
{
    if (platform == OsPlatform::Win9x && major == 4) {
        if (minor == 0)
            return 1;
        if (minor == 10)
            return servicePack.size() > 1 && servicePack.at(1) == QLatin1Char('A') ? 3 : 2;
        if (minor == 90)
            return 5;
    }
    if (platform == OsPlatform::WinNT) {
        if (major <= 4)
            return 4;
        if (major == 5 && minor == 0)
            return 6;
        if (major == 5 && minor == 1)
            return 7;
        if (major == 6)
            return 8;
    }
    return 0;
}

bool portSearchOfferedFor(int versionCode)
{
    return versionCode == 4 || versionCode == 6 || versionCode == 7 || versionCode == 8;
}

int GetWindowsVersionCode()
{
#ifdef Q_OS_WIN
    const auto v = QOperatingSystemVersion::current();
    return classifyWindowsVersion(OsPlatform::WinNT, v.majorVersion(), v.minorVersion(), {});
#else
    return 0;
#endif
}

bool portSearchOffered()
{
#ifdef Q_OS_WIN
    return portSearchOfferedFor(GetWindowsVersionCode());
#else
    return true;
#endif
}
