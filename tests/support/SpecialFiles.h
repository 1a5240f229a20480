#pragma once

// Paths that are not regular files, for the tests that check that every file
// the tool and ravelinctl read or write is refused on them: a FIFO, a
// character device node (the numbers of the null device, so that a wrong
// read finds nothing and a wrong write loses nothing), a directory; and a
// watchdog that releases whatever is stuck on a FIFO so that a regression
// fails the test instead of hanging it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Makes a node of `kind` ("fifo", "device", "directory") at path; an empty
// string on success, else why. A device node needs root.
inline QString makeNode(const QString &path, const QString &kind)
{
    const QByteArray name = QFile::encodeName(path);
    int result = -1;
    if (kind == QLatin1String("fifo"))
        result = ::mkfifo(name.constData(), 0600);
    else if (kind == QLatin1String("device"))
        result = ::mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3));
    else if (kind == QLatin1String("directory"))
        result = QDir().mkdir(path) ? 0 : -1;
    return result == 0 ? QString() : QStringLiteral("cannot make a %1 at %2").arg(kind, path);
}

// Makes the node for a test row. A device node that cannot be made (not
// root) skips the row on a developer's machine and fails it under CI, where
// a skipped row would hide a broken set-up; any other failure fails it.
// (QTest::qSkip directly: QSKIP wants a further argument under -Wpedantic.)
#define MAKE_NODE(path, kind)                                                                      \
    do {                                                                                           \
        const QString cannot = makeNode(path, kind);                                               \
        if (!cannot.isEmpty() && (kind) == QLatin1String("device") &&                              \
            !qEnvironmentVariableIsSet("CI")) {                                                    \
            QTest::qSkip(qPrintable(cannot), __FILE__, __LINE__);                                  \
            return;                                                                                \
        }                                                                                          \
        QVERIFY2(cannot.isEmpty(), qPrintable(cannot));                                            \
    } while (false)

// What a path is, as lstat sees it: "fifo", "device", "directory", "file",
// "link" or "missing".
inline QString nodeType(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("fifo");
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("device");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("directory");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link");
    return QStringLiteral("file");
}

// Once `seconds` pass without done(), keeps opening and closing both ends of
// the FIFO at path: an open() or read() stuck on it returns (a reader sees
// the end of the file), and fired() tells the test that it had to.
class FifoWatchdog
{
public:
    explicit FifoWatchdog(const QString &path, int seconds = 5)
        : m_name(QFile::encodeName(path)), m_thread([this, seconds] { run(seconds); })
    {}
    ~FifoWatchdog() { done(); }
    FifoWatchdog(const FifoWatchdog &) = delete;
    FifoWatchdog &operator=(const FifoWatchdog &) = delete;

    void done()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    bool fired() const { return m_fired; }

private:
    void run(int seconds)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; }))
            return;
        m_fired = true;
        while (!m_done) {
            const int fd = ::open(m_name.constData(), O_RDWR | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_done; });
        }
    }

    QByteArray m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};
