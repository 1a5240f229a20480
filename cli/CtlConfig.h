#pragma once

// ravelinctl get and set: the values of the tool's Network, G50 and BACnet
// pages, read and written through the same register operations and checked
// by the same entry rules as the pages.

#include "CtlSession.h"

#include <QString>
#include <QStringList>

#include <functional>

struct ConfigCommand
{
    std::function<CtlOutput(CtlSession &)> run; // empty when the arguments were refused
    QString error;                              // why they were refused
};

// "get AREA" or "set AREA KEY=VALUE...", AREA one of network, g50 and bacnet.
// Every argument is checked here, before anything is sent.
ConfigCommand prepareConfigCommand(const QString &command, const QStringList &arguments);
