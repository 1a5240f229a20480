#pragma once

// A small INI reader/writer that changes only the lines it is asked to change.
// Every other byte of the file (comments, blank lines, other sections and keys,
// unusual spacing, line endings, even binary garbage) is written back as read,
// which QSettings' INI format does not guarantee.
//
// The content is kept as the file's bytes and lines are found by scanning, so
// memory stays the size of the file whatever its shape (a file of line breaks
// costs no more than any other).

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

class IniFile
{
public:
    // A settings file is a few hundred bytes; anything above this is not one.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    // Reads the file. False when it exists but cannot be read, which includes
    // anything but a regular file of at most MaxFileSize bytes (a FIFO, a
    // device, a directory); such a path is never opened in a way that could
    // block. A missing file reads as empty and returns true.
    bool load(const QString &path);
    // Writes the whole content atomically (a failed write leaves the old file).
    bool save(const QString &path) const;

    void setContent(const QByteArray &content) { m_content = content; }
    QByteArray content() const { return m_content; }

    // Section and key names compare ignoring ASCII case and surrounding blanks;
    // the first matching section and key win, as on the platform that defined
    // the format.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Replaces the value of an existing key in place, else adds the key at the
    // end of the section, else adds the section at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);
    // A section's keys in order as (key, value); empty when there is no such
    // section. Comments and lines without '=' are not entries.
    QList<std::pair<QString, QString>> entries(const QString &section) const;
    // Replaces everything the section holds up to its last non-blank line
    // with the entries (blank separators below it and every other section
    // stay as they are); adds the section at the end of the file when it is
    // missing and there is something to write.
    void setEntries(const QString &section, const QList<std::pair<QString, QString>> &entries);

private:
    // One line of m_content: its text is [begin, end), its terminator ("\n",
    // "\r\n" or none for an unterminated last line) [end, next).
    struct Line
    {
        qsizetype begin = 0;
        qsizetype end = 0;
        qsizetype next = 0;
        bool terminated() const { return next > end; }
    };
    Line lineAt(qsizetype pos) const;
    QByteArray text(const Line &line) const;
    std::optional<Line> findSection(const QString &section) const;
    std::optional<Line> findKey(const Line &sectionLine, const QString &key) const;
    // Where a key added to the section goes: after its last non-blank line.
    Line lastFilledLine(const Line &sectionLine) const;
    QByteArray newLineTerminator() const;

    QByteArray m_content;
};
