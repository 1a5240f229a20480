// Feeds arbitrary bytes as the settings file, through the reader from disk and
// through the lookups and in-place edits in memory. Whatever the content: the
// reader returns exactly the bytes on disk, the values written read back, a
// second identical edit changes nothing, and the settings loaded from the file
// are always a usable port number and a valid dotted quad.

#include "AppSettings.h"
#include "IniFile.h"
#include "ModBusTCPPro.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

const QString Section = QStringLiteral("Options");
const QString PortKey = QStringLiteral("Comms_Port");
const QString AddressKey = QStringLiteral("IP_Address");

void check(bool condition)
{
    if (!condition)
        std::abort();
}

QString settingsPath()
{
    static QTemporaryDir dir;
    return dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini"));
}

void editInMemory(const QByteArray &input)
{
    IniFile ini;
    ini.setContent(input);
    check(ini.content() == input);
    ini.value(Section, PortKey);
    ini.setValue(Section, PortKey, QStringLiteral("7"));
    ini.setValue(Section, AddressKey, QStringLiteral("127.0.0.1"));
    check(ini.value(Section, PortKey) == std::optional<QString>(QStringLiteral("7")));
    check(ini.value(Section, AddressKey) == std::optional<QString>(QStringLiteral("127.0.0.1")));
    const QByteArray edited = ini.content();
    ini.setValue(Section, PortKey, QStringLiteral("7"));
    ini.setValue(Section, AddressKey, QStringLiteral("127.0.0.1"));
    check(ini.content() == edited);
}

void readFromDisk(const QByteArray &input)
{
    const QString path = settingsPath();
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(input) == input.size());
    }
    IniFile ini;
    check(ini.load(path));
    check(ini.content() == input);

    const AppSettings s = loadSettings(path);
    int octets[4] = {};
    check(ParseIPAddress(s.ipAddress, octets));
    for (int i = 0; i < 4; ++i)
        check(octets[i] == s.ipOctets[size_t(i)] && octets[i] >= 0 && octets[i] <= 255);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    editInMemory(input);
    readFromDisk(input);
    return 0;
}
