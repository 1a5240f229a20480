#include "SaveFile.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

#ifdef _WIN32
#include <QFileInfo>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString notRegular()
{
    return QStringLiteral("not a regular file");
}

QString tooLarge(qint64 maxSize)
{
    return QStringLiteral("larger than %1 bytes").arg(maxSize);
}

void setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
}

#ifndef _WIN32

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads an open regular file to its end, at most maxSize bytes; a file that
// has grown beyond the limit since it was looked at is refused.
bool readBounded(int fd, qint64 expectedSize, qint64 maxSize, QByteArray &content, QString *reason)
{
    QByteArray data(qsizetype(std::min(expectedSize, maxSize)) + 1, Qt::Uninitialized);
    qsizetype have = 0;
    for (;;) {
        if (have == data.size()) {
            if (have > maxSize) {
                setReason(reason, tooLarge(maxSize));
                return false;
            }
            data.resize(qsizetype(std::min<qint64>(2 * qint64(have), maxSize + 1)));
        }
        const ssize_t n = ::read(fd, data.data() + have, size_t(data.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            setReason(reason, systemError(errno));
            return false;
        }
        if (n == 0)
            break;
        have += n;
    }
    data.truncate(have);
    content = data;
    return true;
}

#endif

} // namespace

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxSize, QString *reason,
                                          bool *missing)
{
    if (missing)
        *missing = false;
#ifdef _WIN32
    const QFileInfo info(path);
    if (!info.exists()) {
        if (missing)
            *missing = true;
        setReason(reason, QStringLiteral("no such file"));
        return std::nullopt;
    }
    if (!info.isFile()) {
        setReason(reason, notRegular());
        return std::nullopt;
    }
    if (info.size() > maxSize) {
        setReason(reason, tooLarge(maxSize));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setReason(reason, file.errorString());
        return std::nullopt;
    }
    const QByteArray content = file.read(maxSize + 1);
    if (file.error() != QFileDevice::NoError) {
        setReason(reason, file.errorString());
        return std::nullopt;
    }
    if (content.size() > maxSize) {
        setReason(reason, tooLarge(maxSize));
        return std::nullopt;
    }
    return content;
#else
    // The type is checked before opening (opening a device can have effects of
    // its own) and again on the open descriptor, which O_NONBLOCK keeps from
    // blocking should a FIFO have taken the file's place in between.
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0) {
        if (missing)
            *missing = errno == ENOENT || errno == ENOTDIR;
        setReason(reason, systemError(errno));
        return std::nullopt;
    }
    const auto refusal = [maxSize](const struct stat &s) -> std::optional<QString> {
        if (!S_ISREG(s.st_mode))
            return notRegular();
        if (s.st_size > maxSize)
            return tooLarge(maxSize);
        return std::nullopt;
    };
    if (const std::optional<QString> why = refusal(st)) {
        setReason(reason, *why);
        return std::nullopt;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        setReason(reason, systemError(errno));
        return std::nullopt;
    }
    QByteArray content;
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        setReason(reason, systemError(errno));
    else if (const std::optional<QString> why = refusal(st))
        setReason(reason, *why);
    else
        ok = readBounded(fd, qint64(st.st_size), maxSize, content, reason);
    ::close(fd);
    if (!ok)
        return std::nullopt;
    return content;
#endif
}

bool checkWriteTarget(const QString &path, QString *reason)
{
#ifdef _WIN32
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isFile())
        return true;
    setReason(reason, notRegular());
    return false;
#else
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::lstat(name.constData(), &st) != 0)
        return true; // a new path, or one the write itself will fail on with its own error
    if (S_ISLNK(st.st_mode) && ::stat(name.constData(), &st) != 0) {
        // A link to nothing: the write would create a file wherever it points.
        setReason(reason, QStringLiteral("a symbolic link to a missing file"));
        return false;
    }
    if (S_ISREG(st.st_mode))
        return true;
    setReason(reason, notRegular());
    return false;
#endif
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason)
{
    if (!checkWriteTarget(path, reason))
        return false;
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    setReason(reason, file.errorString());
    return false;
}
