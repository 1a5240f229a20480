#pragma once

// Whole-file reads and writes limited to regular files.
//
// Every file the tool and ravelinctl read or write goes through here, so that
// a path naming a FIFO, a device or a directory is refused with a message
// instead of blocking for ever (a FIFO without a writer), reading without end
// (a device) or being replaced by a regular file (a device node).

#include <QByteArray>
#include <QString>

#include <optional>

// Reads the whole of a regular file of at most `maxSize` bytes. A path that is
// not a regular file is never opened in a way that could block: its type is
// checked before opening and again on the open descriptor (opened with
// O_NONBLOCK), so a FIFO that takes the file's place in between is refused
// too. On failure returns nothing with `reason` (when given) set: "not a
// regular file", "larger than N bytes" or the system's error; `missing` (when
// given) says whether the path does not exist at all.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize,
                                          QString *reason = nullptr, bool *missing = nullptr);

// Whether a whole-file write may go to `path`: it does not exist yet, or it
// is a regular file, or a symbolic link to a regular file (whose contents are
// then replaced; the link stays). Anything else (a FIFO, a device, a
// directory, a link to one of them or to nothing) is refused with `reason`
// set and is left untouched.
bool checkWriteTarget(const QString &path, QString *reason = nullptr);

// Writes `bytes` to a temporary file beside `path` and renames it into place,
// after checkWriteTarget. On failure the old file is untouched and `reason`
// (when given) says why.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason = nullptr);
