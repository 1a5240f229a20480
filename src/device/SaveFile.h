#pragma once

// Whole-file writes that never leave a half-written file behind.

#include <QByteArray>
#include <QString>

// Writes `bytes` to a temporary file beside `path` and renames it into place.
// On failure the old file is untouched and `reason` (when given) says why.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason = nullptr);
