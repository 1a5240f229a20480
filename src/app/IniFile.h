#pragma once

// A small INI reader/writer that changes only the lines it is asked to change.
// Every other byte of the file (comments, blank lines, other sections and keys,
// unusual spacing, line endings, even binary garbage) is written back as read,
// which QSettings' INI format does not guarantee.

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class IniFile
{
public:
    // Reads the file. False when it exists but cannot be read; a missing file
    // reads as empty and returns true.
    bool load(const QString &path);
    // Writes the whole content atomically (a failed write leaves the old file).
    bool save(const QString &path) const;

    void setContent(const QByteArray &content);
    QByteArray content() const;

    // Section and key names compare ignoring ASCII case and surrounding blanks;
    // the first matching section and key win, as on the platform that defined
    // the format.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Replaces the value of an existing key in place, else adds the key at the
    // end of the section, else adds the section at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);

private:
    struct Line
    {
        QByteArray text;       // without its terminator
        QByteArray terminator; // "\n", "\r\n" or "" for an unterminated last line
    };
    int findSection(const QString &section) const;
    int findKey(int sectionLine, const QString &key) const;
    int sectionEnd(int sectionLine) const;
    QByteArray newLineTerminator() const;

    std::vector<Line> m_lines;
};
