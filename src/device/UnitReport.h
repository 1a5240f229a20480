#pragma once

// The commissioning report of one unit: identity, network, G50, BACnet, the
// object names and the live status with its texts, with the tool and the
// time it was made. Written as one self-contained HTML page (styles inline,
// no images, scripts or links), well formed enough to be read back as XML;
// the same page laid out by a text document gives the PDF.

#include "ConfigFile.h"
#include "StatusBlock.h"

#include <QDateTime>
#include <QString>

#include <optional>

struct UnitReport
{
    UnitConfig config;                 // the sections it holds are reported
    std::optional<StatusBlock> status; // the live status when the report was made
    QString unitAddress;               // where the unit was reached, as the user gave it
    QString toolName;
    QString toolVersion;
    QDateTime madeAt;
};

QString unitReportHtml(const UnitReport &report);

// A name as a report shows it: control characters, which no page can show,
// as \xNN.
QString printableName(const QByteArray &name);
