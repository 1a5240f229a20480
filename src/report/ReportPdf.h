#pragma once

// The commissioning report as a PDF, shared by the tool and ravelinctl.

#include <QString>

// Lays `html` out on A4 pages with 15 mm margins and writes it to `path`
// through a temporary file. A table row, or a heading and the first row of
// its table, never straddles two pages unless it is taller than most of one;
// words too long for their cell break rather than run over its edge. `creator` names the program in the document's
// properties. On failure the old file is untouched and `reason` says why.
bool writeReportPdf(const QString &path, const QString &html, const QString &creator,
                    QString *reason);
