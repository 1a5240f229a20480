#pragma once

// The 100 object names as CSV: a header row "address,name", then one row per
// name. Written as UTF-8 with CRLF line ends and fields quoted where needed.
//
// Read from UTF-8 (a leading byte-order mark is allowed), with comma or
// semicolon separators (spreadsheets in some locales write the latter; the
// header decides), the two columns in either order, RFC 4180 quoting, rows in
// any order and any subset of the addresses. Every name must fit the unit:
// at most 19 characters, each with a Latin-1 byte. A file with any fault is
// refused whole, with every fault found reported by its line.

#include "UnitOps.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

// A CSV file of names is a few kilobytes; anything far larger is not one.
constexpr qint64 MaxNamesCsvSize = 256 * 1024;

// Address (1 to 100) to the name's bytes, in address order.
using NameUpdates = std::map<int, QByteArray>;

// The whole list, address 1 first.
QByteArray namesToCsv(const ObjectNameList &names);
// Only the names given, in address order.
QByteArray namesToCsv(const NameUpdates &names);

// The names a CSV text sets, or nothing with the faults ("line 7: ...", in
// line order; the list stops after the first 20 with a count of the rest).
std::optional<NameUpdates> parseNamesCsv(const QByteArray &text, QStringList *faults);

// `names` with the updates applied.
ObjectNameList withNameUpdates(ObjectNameList names, const NameUpdates &updates);

// One field for a CSV row: quoted when it holds the separator, a quote, a
// line break or spaces at either end. A text a spreadsheet would run as a
// formula (starting with =, +, -, @, a tab or a carriage return, or such a
// text behind apostrophes) gets a leading apostrophe, as spreadsheet users
// do by hand; names read back lose it again.
QString csvField(const QString &cell);
// Whether csvField puts the apostrophe before the text.
bool formulaLike(QStringView text);
// A cell as written by csvField, without its apostrophe.
QString withoutFormulaGuard(const QString &cell);

// Splits CSV text into rows of fields (RFC 4180 quoting; a quoted field may
// span lines). Each row carries the line it starts on. A quote left open or
// text after a closing quote is a fault of that row.
struct CsvRow
{
    int line = 0;
    QStringList fields;
    QString fault; // empty when the row is well formed
};
std::vector<CsvRow> splitCsv(const QString &text, QChar separator);
