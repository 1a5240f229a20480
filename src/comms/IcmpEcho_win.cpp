// ICMP echo on Windows: the system's asynchronous echo call, completed
// through an event that the event loop watches. No privilege is needed.

#include "IcmpEcho.h"

#include <QTimer>
#include <QWinEventNotifier>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

namespace {

// One outstanding echo call. The system writes into the reply buffer until
// the call completes, so the request lives until then even when the client
// has dropped it; it deletes itself after its completion.
class EchoCall final : public QObject
{
    Q_OBJECT
public:
    EchoCall(HANDLE icmp, QObject *parent) : QObject(parent), m_icmp(icmp)
    {
        m_event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        // A reply, the echoed payload, an ICMP error's extra bytes and the
        // I/O status block (two pointers) the asynchronous call appends.
        m_buffer.resize(int(sizeof(ICMP_ECHO_REPLY) + 64 + 8 + 2 * sizeof(void *) + 256));
    }
    ~EchoCall() override
    {
        if (m_event)
            ::CloseHandle(m_event);
    }

    // False when the call could not be started; *error then holds the reason.
    bool start(IPAddr target, int timeoutMs, DWORD *error)
    {
        if (!m_event) {
            *error = ::GetLastError();
            return false;
        }
        m_notifier = new QWinEventNotifier(m_event, this);
        connect(m_notifier, &QWinEventNotifier::activated, this, &EchoCall::completed);
        static char payload[] = "RavelinCfg echo 0123456789";
        const DWORD r = ::IcmpSendEcho2(m_icmp, m_event, nullptr, nullptr, target, payload,
                                        WORD(sizeof payload - 1), nullptr, m_buffer.data(),
                                        DWORD(m_buffer.size()), DWORD(timeoutMs));
        if (r == 0 && ::GetLastError() != ERROR_IO_PENDING) {
            *error = ::GetLastError();
            return false;
        }
        return true;
    }

    // The client no longer wants the outcome.
    void drop() { m_dropped = true; }

signals:
    void done(EchoStatus status);

private:
    void completed()
    {
        m_notifier->setEnabled(false);
        const DWORD count = ::IcmpParseReplies(m_buffer.data(), DWORD(m_buffer.size()));
        const auto *reply = reinterpret_cast<const ICMP_ECHO_REPLY *>(m_buffer.data());
        const bool ok = count > 0 && reply->Status == IP_SUCCESS;
        if (!m_dropped)
            emit done(ok ? EchoStatus::Reply : EchoStatus::NoReply);
        deleteLater();
    }

    HANDLE m_icmp;
    HANDLE m_event = nullptr;
    QWinEventNotifier *m_notifier = nullptr;
    QByteArray m_buffer;
    bool m_dropped = false;
};

QString systemErrorText(DWORD error)
{
    wchar_t *text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString result =
        text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    if (text)
        ::LocalFree(text);
    return result;
}

class SystemEcho final : public EchoClient
{
public:
    explicit SystemEcho(HANDLE icmp) : m_icmp(icmp) {}
    ~SystemEcho() override
    {
        cancel();
        // Closing the handle ends outstanding calls; their objects are
        // children of this one and go with it.
        ::IcmpCloseHandle(m_icmp);
    }

    void send(const QString &address, int timeoutMs) override
    {
        cancel();
        const int request = m_request;
        IN_ADDR target{};
        if (::InetPtonW(AF_INET, reinterpret_cast<const wchar_t *>(address.utf16()), &target) !=
            1) {
            finishLater(request, {EchoStatus::Failed,
                                  QStringLiteral("%1 is not an IPv4 address").arg(address)});
            return;
        }
        auto *call = new EchoCall(m_icmp, this);
        DWORD error = 0;
        if (!call->start(target.S_un.S_addr, timeoutMs, &error)) {
            delete call;
            finishLater(request, {EchoStatus::Failed, systemErrorText(error)});
            return;
        }
        m_call = call;
        connect(call, &EchoCall::done, this, [this, call](EchoStatus status) {
            if (call != m_call)
                return;
            m_call = nullptr;
            emit finished({status, {}});
        });
    }

    void cancel() override
    {
        ++m_request;
        if (m_call) {
            m_call->drop();
            m_call = nullptr;
        }
    }

    EchoBackend backend() const override { return EchoBackend::System; }

private:
    void finishLater(int request, const EchoOutcome &outcome)
    {
        QTimer::singleShot(0, this, [this, request, outcome] {
            if (request == m_request)
                emit finished(outcome);
        });
    }

    HANDLE m_icmp;
    EchoCall *m_call = nullptr;
    int m_request = 0;
};

} // namespace

std::unique_ptr<EchoClient> createEchoClient(EchoBackend backend, QString *why)
{
    QString reason;
    std::unique_ptr<EchoClient> client;
    if (backend == EchoBackend::System) {
        const HANDLE icmp = ::IcmpCreateFile();
        if (icmp != INVALID_HANDLE_VALUE)
            client = std::make_unique<SystemEcho>(icmp);
        else
            reason = QStringLiteral("%1: %2").arg(echoBackendName(backend),
                                                  systemErrorText(::GetLastError()));
    }
    if (why)
        *why = reason;
    return client;
}

#include "IcmpEcho_win.moc"
