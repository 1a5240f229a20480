#pragma once

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Two linked ptys made by socat: whatever is written to one end is read at
// the other. Stopped by its own process id.
class SocatPair
{
public:
    SocatPair() = default;
    SocatPair(const SocatPair &) = delete;
    SocatPair &operator=(const SocatPair &) = delete;

    bool start()
    {
        const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (socat.isEmpty() || !m_dir.isValid())
            return false;
        m_process.start(socat, {QStringLiteral("pty,raw,echo=0,link=") + a(),
                                QStringLiteral("pty,raw,echo=0,link=") + b()});
        if (!m_process.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (QFileInfo::exists(a()) && QFileInfo::exists(b()))
                return true;
            QTest::qWait(10);
        }
        return false;
    }
    ~SocatPair()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    QString a() const { return m_dir.filePath(QStringLiteral("a")); }
    QString b() const { return m_dir.filePath(QStringLiteral("b")); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
