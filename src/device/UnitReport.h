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

#include <cstdint>
#include <optional>

struct UnitReport
{
    UnitConfig config;                 // the sections it holds are reported
    std::optional<StatusBlock> status; // the live status when the report was made
    QString unitAddress;               // where the unit was reached, as the user gave it
    QString toolName;
    QString toolVersion;
    QDateTime madeAt;
    // The engineer's own words: rows that are empty are left out of the
    // head of the page; the sign-off block always has its lines.
    QString site;
    QString engineer;
    QString notes; // may span lines
};

// Where the page is read. On screen the names are one long table; printed,
// they stand in columns so that they fill at most two pages, and every table
// spans the page's width.
enum class ReportMedium
{
    Screen,
    Print
};

QString unitReportHtml(const UnitReport &report, ReportMedium medium = ReportMedium::Screen);

// The file name offered for the report of the unit with this BACnet device
// instance: "ravelin-<instance>-<YYYY-MM-DD>.<suffix>"; without an instance
// (nothing read) "ravelin-<YYYY-MM-DD>.<suffix>".
QString reportFileName(std::optional<std::uint32_t> instance, const QDate &date,
                       const QString &suffix);

// A name as a report shows it: control characters, which no page can show,
// as \xNN.
QString printableName(const QByteArray &name);
