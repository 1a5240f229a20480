#pragma once

// A unit's configuration kept in a file: one JSON object with a format name
// and version, the unit's identity as read, its network settings with the
// configuration lock, the G50 address, the BACnet settings and the 100 object
// names, plus the tool and the time that saved it. docs/config-file.md
// describes the format for people.
//
// Reading is all or nothing: a file is either taken whole or refused with one
// message that names the line and the key, and the caller's values are left
// as they were. Keys that this version does not know are kept and written
// back when the file is rewritten, so a file edited by a newer tool or by a
// person loses nothing here.

#include "UnitOps.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

constexpr int ConfigFormatVersion = 1;
constexpr char ConfigFormatName[] = "ravelin-unit-config";
// A configuration file is a few kilobytes; anything far larger is not one.
constexpr qint64 MaxConfigFileSize = 1024 * 1024;
// The deepest nesting of objects and lists a file may have, the top-level
// object being level 1. The format itself goes two levels deep (a section in
// the top-level object); the rest is room for keys a person or a newer tool
// adds. Deeper text is refused before it is parsed: it is no configuration,
// and parsing it costs memory in proportion to its depth.
constexpr int MaxConfigNesting = 32;
// Text from a file quoted in a message is cut to this many characters.
constexpr int MaxQuotedLength = 80;

// The sections' keys are the rows' file keys (NetworkTable.h, G50Table.h,
// BACnetTable.h, IdentityTable.h, NamesTable.h).

struct UnitConfig
{
    // What the unit reported when the file was saved; never written to a unit.
    std::optional<ProductInfo> identity;
    std::optional<NetworkConfig> network;
    std::optional<Octets4> g50;
    std::optional<BACnetSettings> bacnet;
    std::optional<ObjectNameList> objectNames;

    QString toolName;    // the program that saved the file
    QString toolVersion; // its version
    QDateTime savedAt;   // invalid when unknown

    // The file's whole JSON object as read: the keys this version does not
    // know come back from here when the file is written again.
    QJsonObject source;
};

// Why a file was refused: the line (from 1; 0 when the file has no lines to
// point at), the key path ("bacnet.deviceName", "objectNames[4]"; empty when
// no key is involved) and what is wrong.
struct ConfigError
{
    int line = 0;
    QString key;
    QString message;
    // "line 7, bacnet.deviceInstance: 4194303 is out of range (0 to 4194302)"
    QString text() const;
};

// The configuration held by a file's text, or nothing with the reason.
std::optional<UnitConfig> parseUnitConfig(const QByteArray &text, ConfigError *error);
// The file text: the known keys from `config`, every other key of
// config.source as it was. Sections that `config` lacks are left out.
QByteArray serializeUnitConfig(const UnitConfig &config);

// Reads and parses a file; `config` changes only when the whole file is good.
bool loadUnitConfig(const QString &path, UnitConfig &config, ConfigError *error);
// Writes the file in one piece: an existing file is replaced only once the
// new text is completely written.
bool saveUnitConfig(const QString &path, const UnitConfig &config, QString *error);

// Addresses in the file are written by dottedText and read by fileAddress
// (Codecs.h): four decimal numbers from 0 to 255 separated by dots, nothing
// else.
