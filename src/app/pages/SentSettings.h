#pragma once

// What the pages sent to the unit in a session, kept for the check after a
// restart: each setting by its ravelinctl key, its report label and its
// value as `ravelinctl get` prints it. Settings the unit applies at its next
// restart are compared with what it holds once it is back.

#include "UnitOps.h"

#include <QList>
#include <QString>

class RegisterAccess;

struct SentSetting
{
    QString key;   // ravelinctl key, unique over the areas
    QString label; // for a person
    QString sent;  // as ravelinctl get prints it
    bool operator==(const SentSetting &o) const
    {
        return key == o.key && label == o.label && sent == o.sent;
    }
};

// The settings of one send, for the blocks it wrote.
QList<SentSetting> sentNetworkSettings(const NetworkConfig &config, bool addresses, bool lock);
QList<SentSetting> sentG50Settings(const Octets4 &address);
QList<SentSetting> sentBACnetSettings(const BACnetSettings &settings, BACnetParts parts);

// The settings sent in one session; a later send of a key replaces the
// earlier value, keeping its place.
class SentLedger
{
public:
    void add(const QList<SentSetting> &settings);
    void clear() { m_settings.clear(); }
    const QList<SentSetting> &settings() const { return m_settings; }
    // The unit's IP address as last sent, empty when none was.
    QString sentIpAddress() const;

private:
    QList<SentSetting> m_settings;
};

// One sent setting beside what the unit holds after its restart; `unit` is
// empty when its area could not be read.
struct SettingCheck
{
    SentSetting setting;
    QString unit;
    bool taken() const { return setting.sent == unit; }
};

// Reads the areas the settings belong to and pairs each setting with the
// unit's value.
QList<SettingCheck> checkSentSettings(RegisterAccess &access, const QList<SentSetting> &sent);
// One line per setting: "IP address: sent 127.0.0.2, unit has 127.0.0.2 (taken)".
QStringList describeChecks(const QList<SettingCheck> &checks);
