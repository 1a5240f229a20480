#pragma once

// What ravelinctl prints for a person passes through one rule, so that text
// from a unit, a file or the command line cannot drive the terminal.

#include <QByteArray>
#include <QString>

// The line with control characters, DEL and the C1 range escaped as \xNN and
// the backslash doubled, so that the escapes stay unambiguous. Latin-1
// letters stay as they are.
QByteArray terminalSafe(const QString &line);

// Text meant for a file (CSV) on standard output: its bytes as they are when
// the output is redirected, each line terminal-safe when it is a terminal.
void writeFileText(const QByteArray &bytes);
