#include "IniFile.h"

#include "SaveFile.h"

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
    bool missing = false;
    const std::optional<QByteArray> content = readRegularFile(path, MaxFileSize, nullptr, &missing);
    if (!content) {
        if (!missing)
            return false;
        m_content.clear(); // a missing file reads as empty
        return true;
    }
    m_content = *content;
    return true;
}

bool IniFile::save(const QString &path) const
{
    return writeFileAtomically(path, m_content);
}

IniFile::Line IniFile::lineAt(qsizetype pos) const
{
    Line line;
    line.begin = pos;
    const qsizetype nl = m_content.indexOf('\n', pos);
    if (nl < 0) {
        line.end = line.next = m_content.size();
        return line;
    }
    line.end = nl > pos && m_content.at(nl - 1) == '\r' ? nl - 1 : nl;
    line.next = nl + 1;
    return line;
}

QByteArray IniFile::text(const Line &line) const
{
    return m_content.mid(line.begin, line.end - line.begin);
}

std::optional<IniFile::Line> IniFile::findSection(const QString &section) const
{
    for (qsizetype pos = 0; pos < m_content.size();) {
        const Line line = lineAt(pos);
        const QByteArray t = text(line);
        if (isSection(t) && sameName(sectionName(t), section))
            return line;
        pos = line.next;
    }
    return std::nullopt;
}

std::optional<IniFile::Line> IniFile::findKey(const Line &sectionLine, const QString &key) const
{
    for (qsizetype pos = sectionLine.next; pos < m_content.size();) {
        const Line line = lineAt(pos);
        const QByteArray t = text(line);
        if (isSection(t))
            break;
        const qsizetype eq = t.indexOf('=');
        if (eq > 0 && !t.trimmed().startsWith(';') && sameName(t.left(eq), key))
            return line;
        pos = line.next;
    }
    return std::nullopt;
}

IniFile::Line IniFile::lastFilledLine(const Line &sectionLine) const
{
    Line last = sectionLine;
    for (qsizetype pos = sectionLine.next; pos < m_content.size();) {
        const Line line = lineAt(pos);
        const QByteArray t = text(line);
        if (isSection(t))
            break;
        if (!t.trimmed().isEmpty())
            last = line;
        pos = line.next;
    }
    return last;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const auto s = findSection(section);
    if (!s)
        return std::nullopt;
    const auto k = findKey(*s, key);
    if (!k)
        return std::nullopt;
    const QByteArray t = text(*k);
    return QString::fromUtf8(t.mid(t.indexOf('=') + 1).trimmed());
}

QByteArray IniFile::newLineTerminator() const
{
    for (qsizetype pos = 0; pos < m_content.size();) {
        const Line line = lineAt(pos);
        if (line.terminated())
            return m_content.mid(line.end, line.next - line.end);
        pos = line.next;
    }
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
    const auto s = findSection(section);
    if (!s) {
        // An unterminated last line must end before a new section can follow it.
        if (!m_content.isEmpty() && !m_content.endsWith('\n'))
            m_content += nl;
        m_content += '[' + section.toUtf8() + ']' + nl + entry + nl;
        return;
    }
    if (const auto k = findKey(*s, key)) {
        m_content.replace(k->begin, k->end - k->begin, entry);
        return;
    }
    // After the section's last non-blank line, so blank separators stay below it.
    const Line after = lastFilledLine(*s);
    if (after.terminated())
        m_content.insert(after.next, entry + nl);
    else
        m_content.insert(after.end, nl + entry + nl); // only the file's last line lacks one
}

QList<std::pair<QString, QString>> IniFile::entries(const QString &section) const
{
    QList<std::pair<QString, QString>> out;
    const auto s = findSection(section);
    if (!s)
        return out;
    for (qsizetype pos = s->next; pos < m_content.size();) {
        const Line line = lineAt(pos);
        const QByteArray t = text(line);
        if (isSection(t))
            break;
        const qsizetype eq = t.indexOf('=');
        if (eq > 0 && !t.trimmed().startsWith(';'))
            out.append({QString::fromUtf8(t.left(eq).trimmed()),
                        QString::fromUtf8(t.mid(eq + 1).trimmed())});
        pos = line.next;
    }
    return out;
}

void IniFile::setEntries(const QString &section, const QList<std::pair<QString, QString>> &entries)
{
    const QByteArray nl = newLineTerminator();
    QByteArray body;
    for (const auto &[key, value] : entries)
        body += key.toUtf8() + '=' + value.toUtf8() + nl;
    const auto s = findSection(section);
    if (!s) {
        if (entries.isEmpty())
            return;
        if (!m_content.isEmpty() && !m_content.endsWith('\n'))
            m_content += nl;
        m_content += '[' + section.toUtf8() + ']' + nl + body;
        return;
    }
    const Line last = lastFilledLine(*s);
    if (last.begin == s->begin) { // nothing below the section line yet
        if (s->terminated())
            m_content.insert(s->next, body);
        else if (!body.isEmpty())
            m_content.insert(s->end, nl + body);
        return;
    }
    // The old body ends with its last filled line's terminator; a last line
    // without one is the file's end, and the new body then ends the file.
    m_content.replace(s->next, last.next - s->next, body);
}
