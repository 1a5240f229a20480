#pragma once

// ravelinctl get and set: the values of the tool's Network, G50 and BACnet
// pages, read and written through the same register operations and checked
// by the same entry rules as the pages.

#include "CtlSession.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct ConfigCommand
{
    std::function<CtlOutput(CtlSession &)> run; // empty when the arguments were refused
    QString error;                              // why they were refused
};

// "get AREA" or "set AREA KEY=VALUE...", AREA one of network, g50 and bacnet.
// Every argument is checked here, before anything is sent.
ConfigCommand prepareConfigCommand(const QString &command, const QStringList &arguments);

// The area ("network", "g50" or "bacnet") whose get prints KEY; empty when
// none does.
QString getAreaOfKey(const QString &key);
// VALUE as get prints it for KEY ("config=allowed", "ttl=0060" as "ttl=60"),
// when the key's entry rule takes it; nothing, with `problem` set, when it
// does not. The read-only keys (mac, firmware) take any text as it is. KEY
// must be one that getAreaOfKey knows.
std::optional<QString> getStyleValue(const QString &key, const QString &value, QString *problem);
// get AREA on an open session, AREA as getAreaOfKey names it.
CtlOutput getArea(CtlSession &session, const QString &area);
