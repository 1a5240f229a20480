#include "IniFile.h"

#include <QFile>
#include <QSaveFile>

namespace {

QByteArray sectionName(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (t.size() < 2 || t.front() != '[')
        return {};
    const int close = int(t.indexOf(']'));
    return close < 0 ? QByteArray() : t.mid(1, close - 1).trimmed();
}

bool isSection(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    return t.startsWith('[') && t.contains(']');
}

bool sameName(const QByteArray &a, const QString &b)
{
    return QString::fromLatin1(a.trimmed()).compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

} // namespace

bool IniFile::load(const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        m_lines.clear();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly))
        return false;
    setContent(file.readAll());
    return file.error() == QFileDevice::NoError;
}

bool IniFile::save(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content());
    return file.commit();
}

void IniFile::setContent(const QByteArray &content)
{
    m_lines.clear();
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype nl = content.indexOf('\n', start);
        if (nl < 0) {
            m_lines.push_back({content.mid(start), {}});
            break;
        }
        qsizetype end = nl;
        if (end > start && content.at(end - 1) == '\r')
            --end;
        m_lines.push_back({content.mid(start, end - start), content.mid(end, nl + 1 - end)});
        start = nl + 1;
    }
}

QByteArray IniFile::content() const
{
    QByteArray out;
    for (const Line &line : m_lines)
        out += line.text + line.terminator;
    return out;
}

int IniFile::findSection(const QString &section) const
{
    for (int i = 0; i < int(m_lines.size()); ++i)
        if (isSection(m_lines[size_t(i)].text) &&
            sameName(sectionName(m_lines[size_t(i)].text), section))
            return i;
    return -1;
}

int IniFile::sectionEnd(int sectionLine) const
{
    int i = sectionLine + 1;
    while (i < int(m_lines.size()) && !isSection(m_lines[size_t(i)].text))
        ++i;
    return i;
}

int IniFile::findKey(int sectionLine, const QString &key) const
{
    const int end = sectionEnd(sectionLine);
    for (int i = sectionLine + 1; i < end; ++i) {
        const QByteArray &text = m_lines[size_t(i)].text;
        const qsizetype eq = text.indexOf('=');
        if (eq > 0 && !text.trimmed().startsWith(';') && sameName(text.left(eq), key))
            return i;
    }
    return -1;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const int s = findSection(section);
    if (s < 0)
        return std::nullopt;
    const int k = findKey(s, key);
    if (k < 0)
        return std::nullopt;
    const QByteArray &text = m_lines[size_t(k)].text;
    return QString::fromUtf8(text.mid(text.indexOf('=') + 1).trimmed());
}

QByteArray IniFile::newLineTerminator() const
{
    for (const Line &line : m_lines)
        if (!line.terminator.isEmpty())
            return line.terminator;
#ifdef Q_OS_WIN
    return "\r\n";
#else
    return "\n";
#endif
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray entry = key.toUtf8() + '=' + value.toUtf8();
    const QByteArray nl = newLineTerminator();
    int s = findSection(section);
    if (s < 0) {
        // An unterminated last line must end before a new section can follow it.
        if (!m_lines.empty() && m_lines.back().terminator.isEmpty())
            m_lines.back().terminator = nl;
        m_lines.push_back({'[' + section.toUtf8() + ']', nl});
        m_lines.push_back({entry, nl});
        return;
    }
    const int k = findKey(s, key);
    if (k >= 0) {
        m_lines[size_t(k)].text = entry;
        return;
    }
    // After the section's last non-blank line, so blank separators stay below it.
    int at = sectionEnd(s);
    while (at - 1 > s && m_lines[size_t(at - 1)].text.trimmed().isEmpty())
        --at;
    if (m_lines[size_t(at - 1)].terminator.isEmpty())
        m_lines[size_t(at - 1)].terminator = nl;
    m_lines.insert(m_lines.begin() + at, Line{entry, nl});
}
