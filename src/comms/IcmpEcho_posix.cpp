// ICMP echo on POSIX systems: a datagram or raw ICMP socket watched by the
// event loop, or the system's ping program run as a child process.

#include "IcmpEcho.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Errors that say this process may not send ICMP at all, as opposed to a
// network that cannot carry the request just now.
bool isPermissionError(int error)
{
    return error == EPERM || error == EACCES;
}

class SocketEcho final : public EchoClient
{
public:
    SocketEcho(int fd, EchoBackend backend)
        : m_fd(fd), m_backend(backend), m_notifier(fd, QSocketNotifier::Read)
    {
        // On a raw socket the identifier is ours to choose and is what tells
        // our replies from those of other programs on the host.
        m_identifier = std::uint16_t(QRandomGenerator::global()->generate());
        m_sequence = std::uint16_t(QRandomGenerator::global()->generate());
        m_timer.setSingleShot(true);
        // A coarse timer may end the wait up to 5 % early.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { finish({EchoStatus::NoReply, {}}); });
        connect(&m_notifier, &QSocketNotifier::activated, this, &SocketEcho::readable);
    }
    ~SocketEcho() override
    {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    void send(const QString &address, int timeoutMs) override
    {
        cancel();
        const int request = m_request;
        in_addr target{};
        if (::inet_pton(AF_INET, address.toLatin1().constData(), &target) != 1) {
            finishLater(request, {EchoStatus::Failed,
                                  QStringLiteral("%1 is not an IPv4 address").arg(address)});
            return;
        }
        ++m_sequence;
        m_target = target.s_addr;
        const QByteArray packet =
            buildEchoRequest(m_identifier, m_sequence, QByteArray("RavelinCfg echo 0123456789"));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = target;
        const ssize_t sent = ::sendto(m_fd, packet.constData(), size_t(packet.size()), 0,
                                      reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (sent < 0) {
            const int error = errno;
            // No route or an unreachable network: the address does not answer.
            finishLater(request, isPermissionError(error)
                                     ? EchoOutcome{EchoStatus::Failed, errnoText(error)}
                                     : EchoOutcome{EchoStatus::NoReply, {}});
            return;
        }
        m_waiting = true;
        m_timer.start(timeoutMs);
    }

    void cancel() override
    {
        ++m_request;
        m_waiting = false;
        m_timer.stop();
    }

    EchoBackend backend() const override { return m_backend; }

private:
    // Drains the socket; late or foreign datagrams are read and dropped.
    void readable()
    {
        for (;;) {
            char buffer[1500];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // A queued ICMP error for our request (unreachable and the
                // like) arrives as a socket error.
                if (errno != EAGAIN && errno != EWOULDBLOCK && m_waiting)
                    finish({EchoStatus::NoReply, {}});
                return;
            }
            if (!m_waiting || from.sin_addr.s_addr != m_target)
                continue;
            const bool raw = m_backend == EchoBackend::Raw;
            // The kernel rewrites the identifier of a datagram ICMP socket.
            const std::optional<std::uint16_t> identifier =
                raw ? std::optional<std::uint16_t>(m_identifier) : std::nullopt;
            if (isEchoReply(QByteArray(buffer, int(n)), raw, m_sequence, identifier))
                finish({EchoStatus::Reply, {}});
        }
    }

    void finish(const EchoOutcome &outcome)
    {
        if (!m_waiting)
            return;
        cancel();
        emit finished(outcome);
    }

    void finishLater(int request, const EchoOutcome &outcome)
    {
        QTimer::singleShot(0, this, [this, request, outcome] {
            if (request == m_request)
                emit finished(outcome);
        });
    }

    int m_fd;
    EchoBackend m_backend;
    QSocketNotifier m_notifier;
    QTimer m_timer;
    std::uint16_t m_identifier = 0;
    std::uint16_t m_sequence = 0;
    in_addr_t m_target = 0;
    bool m_waiting = false;
    int m_request = 0;
};

// The system's ping program, one request per run: exit status 0 is a reply,
// 1 no reply; anything else is the program's own failure, shown to the user.
class ProgramEcho final : public EchoClient
{
public:
    explicit ProgramEcho(QString program) : m_program(std::move(program))
    {
        m_guard.setSingleShot(true);
        connect(&m_guard, &QTimer::timeout, this, [this] { finish({EchoStatus::NoReply, {}}); });
    }
    ~ProgramEcho() override { cancel(); }

    void send(const QString &address, int timeoutMs) override
    {
        cancel();
        m_process = new QProcess(this);
        QProcess *process = m_process;
        connect(process, &QProcess::finished, this,
                [this, process](int code, QProcess::ExitStatus) {
                    if (process != m_process)
                        return;
                    EchoOutcome outcome;
                    if (code == 0) {
                        outcome.status = EchoStatus::Reply;
                    } else if (code >= 2) {
                        outcome.status = EchoStatus::Failed;
                        outcome.detail =
                            QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
                        if (outcome.detail.isEmpty())
                            outcome.detail =
                                QStringLiteral("%1 ended with status %2").arg(m_program).arg(code);
                    }
                    finish(outcome);
                });
        connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
            if (process == m_process && e == QProcess::FailedToStart)
                finish({EchoStatus::Failed, process->errorString()});
        });
        // The program's own limit is in whole seconds; ours stops it should
        // it hang beyond that.
        const int seconds = std::max(1, (timeoutMs + 999) / 1000);
        m_guard.start(timeoutMs + 2000);
        process->start(m_program, {QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"),
                                   QStringLiteral("-W"), QString::number(seconds), address});
    }

    void cancel() override
    {
        m_guard.stop();
        if (!m_process)
            return;
        QProcess *process = m_process;
        m_process = nullptr;
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(1000);
        }
        process->deleteLater();
    }

    EchoBackend backend() const override { return EchoBackend::Program; }

private:
    void finish(const EchoOutcome &outcome)
    {
        cancel();
        emit finished(outcome);
    }

    QString m_program;
    QProcess *m_process = nullptr;
    QTimer m_guard;
};

} // namespace

std::unique_ptr<EchoClient> createEchoClient(EchoBackend backend, QString *why)
{
    QString reason;
    std::unique_ptr<EchoClient> client;
    switch (backend) {
    case EchoBackend::Datagram:
    case EchoBackend::Raw: {
        const int type = backend == EchoBackend::Raw ? SOCK_RAW : SOCK_DGRAM;
        const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0)
            client = std::make_unique<SocketEcho>(fd, backend);
        else
            reason = QStringLiteral("%1: %2").arg(echoBackendName(backend), errnoText(errno));
        break;
    }
    case EchoBackend::Program: {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("ping"));
        if (!program.isEmpty())
            client = std::make_unique<ProgramEcho>(program);
        else
            reason = QStringLiteral("no ping program installed");
        break;
    }
    case EchoBackend::System:
    case EchoBackend::None:
        break;
    }
    if (why)
        *why = reason;
    return client;
}
