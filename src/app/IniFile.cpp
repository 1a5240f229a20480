#include "IniFile.h"

#include "SaveFile.h"

#include <QFile>

#include <algorithm>

#ifdef _WIN32
#include <QFileInfo>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

enum class ReadOutcome
{
    Read,
    Missing,
    Unreadable
};

#ifdef _WIN32

ReadOutcome readSettingsFile(const QString &path, QByteArray &content)
{
    const QFileInfo info(path);
    if (!info.exists())
        return ReadOutcome::Missing;
    if (!info.isFile() || info.size() > IniFile::MaxFileSize)
        return ReadOutcome::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadOutcome::Unreadable;
    content = file.read(IniFile::MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError || content.size() > IniFile::MaxFileSize)
        return ReadOutcome::Unreadable;
    return ReadOutcome::Read;
}

#else

bool isSmallRegularFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_size <= IniFile::MaxFileSize;
}

// Reads at most MaxFileSize bytes of an open regular file; false on an error
// or when the file has grown beyond the limit since it was looked at.
bool readBounded(int fd, qint64 expectedSize, QByteArray &content)
{
    QByteArray data(qsizetype(expectedSize) + 1, Qt::Uninitialized);
    qsizetype have = 0;
    for (;;) {
        if (have == data.size()) {
            if (have > IniFile::MaxFileSize)
                return false;
            data.resize(std::min<qsizetype>(2 * have, IniFile::MaxFileSize + 1));
        }
        const ssize_t n = ::read(fd, data.data() + have, size_t(data.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        have += n;
    }
    data.truncate(have);
    content = data;
    return true;
}

ReadOutcome readSettingsFile(const QString &path, QByteArray &content)
{
    // The type is checked before opening (opening a device can have effects of
    // its own) and again on the open descriptor, which O_NONBLOCK keeps from
    // blocking should a FIFO have taken the file's place in between.
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadOutcome::Missing : ReadOutcome::Unreadable;
    if (!isSmallRegularFile(st))
        return ReadOutcome::Unreadable;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return ReadOutcome::Unreadable;
    const bool ok = ::fstat(fd, &st) == 0 && isSmallRegularFile(st) &&
                    readBounded(fd, qint64(st.st_size), content);
    ::close(fd);
    return ok ? ReadOutcome::Read : ReadOutcome::Unreadable;
}

#endif

} // namespace

bool IniFile::load(const QString &path)
{
    QByteArray content;
    switch (readSettingsFile(path, content)) {
    case ReadOutcome::Missing:
        m_content.clear();
        return true;
    case ReadOutcome::Unreadable:
        return false;
    case ReadOutcome::Read:
        break;
    }
    m_content = content;
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
