#pragma once

// The settings file QuorixIPB_Cfg.Ini: the last COM port and unit address.
// Pure file logic, no widgets; the main window calls it at start-up, when a
// port is picked and when a network connection succeeds.

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

inline constexpr char SettingsFileName[] = "QuorixIPB_Cfg.Ini";
inline constexpr char DefaultIPAddress[] = "192.168.1.1";

inline constexpr std::uint16_t DefaultIPPort = 502;

struct AppSettings
{
    int comPort = 1;
    QString ipAddress = QString::fromLatin1(DefaultIPAddress);
    std::array<int, 4> ipOctets{192, 168, 1, 1};
    // IP_Port: the TCP port the address is reached on (a port forward); a
    // value that is not a whole number from 1 to 65535 reads as 502.
    std::uint16_t tcpPort = DefaultIPPort;
    // The [Recent] section's entries in order (RecentUnits reads them).
    QStringList recentUnits;
};

// Comms_Port as read: an optionally signed decimal integer that fits 32 bits,
// surrounding blanks allowed; anything else is the default 1.
int parseCommsPort(const QString &text);

// Reads the settings. A missing file is created holding the defaults; an
// unreadable or garbled file gives the defaults and is left as it is (anything
// but a regular file of at most IniFile::MaxFileSize bytes is unreadable, and
// is never opened in a way that could block). An IP_Address that is not a
// dotted quad becomes the default in memory only.
AppSettings loadSettings(const QString &path);

// Writes Comms_Port then IP_Address into [Options], leaving every other line of
// the file alone. With a TCP port, IP_Port follows when the port is not 502 or
// the key is already there, so a file of a tool that always used 502 keeps
// its two lines. False when the file could not be read or written.
bool saveSettings(const QString &path, int comPort, const QString &ipAddress,
                  std::optional<std::uint16_t> tcpPort = std::nullopt);

// Replaces the [Recent] section's entries (Unit1, Unit2, ...) with these,
// leaving every other line of the file alone. False when the file could not
// be read or written.
bool saveRecentUnits(const QString &path, const QStringList &entries);

// True when the first command-line argument is the service code, ignoring case.
bool isServiceCode(const QString &argument);

// The operating-system families of the version query and the classification
// that decides whether the COM port search is offered (codes 4, 6, 7, 8).
enum class OsPlatform
{
    Win9x,
    WinNT,
    Other
};
int classifyWindowsVersion(OsPlatform platform, int major, int minor, const QString &servicePack);
bool portSearchOfferedFor(int versionCode);

// The operating system's version class: the Windows version code on Windows,
// 0 elsewhere.
int GetWindowsVersionCode();
// Whether the COM port search button is offered: by version code on Windows;
// always on other systems, whose serial devices come and go (USB adapters).
bool portSearchOffered();
