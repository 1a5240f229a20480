#include "TcpEndpoint.h"

#include "SimCore.h"

#include <QTcpSocket>

namespace {

constexpr int MbapHeaderSize = 7; // transaction id, protocol id, length, unit id
// The length field counts the unit id and the PDU; a Modbus PDU is at most 253 bytes.
constexpr int MinLengthField = 2;
constexpr int MaxLengthField = 254;
// Unsent reply bytes at which a connection stops being read, and how much is
// taken from a socket at a time.
constexpr qint64 MaxUnsentBytes = 64 * 1024;
constexpr qint64 ReadChunk = 16 * 1024;

int word(const QByteArray &bytes, int at)
{
    return std::uint8_t(bytes[at]) << 8 | std::uint8_t(bytes[at + 1]);
}

} // namespace

TcpConnection::TcpConnection(QTcpSocket *socket, SimCore &core, QObject *parent)
    : QObject(parent), m_socket(socket), m_core(core)
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Qt stops taking bytes from the kernel once this much waits unread, so
    // a connection that is not being read pushes back on its peer.
    m_socket->setReadBufferSize(ReadChunk);
    m_clock.start();
    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, [this] {
        sendDue();
        readIncoming();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpConnection::readIncoming);
    // Replies leaving may bring the connection back under its bound; queued,
    // because a write can report its bytes from inside readIncoming.
    connect(m_socket, &QTcpSocket::bytesWritten, this, &TcpConnection::readIncoming,
            Qt::QueuedConnection);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpConnection::close);
    readIncoming();
}

void TcpConnection::abort()
{
    m_socket->abort();
    close();
}

// Closes after what was already written (the restart acknowledgement) has left.
void TcpConnection::hangUp()
{
    m_open = false;
    m_outgoing.clear();
    m_queuedBytes = 0;
    m_sendTimer.stop();
    m_buffer.clear();
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

// The peer went away or the connection was dropped: requests still buffered
// or queued replies are dropped with it, never answered into a dead socket.
void TcpConnection::close()
{
    m_open = false;
    m_outgoing.clear();
    m_queuedBytes = 0;
    m_sendTimer.stop();
    m_buffer.clear();
    deleteLater();
}

qint64 TcpConnection::unsentBytes() const
{
    return m_socket->bytesToWrite() + m_queuedBytes;
}

// Handles whole frames while the replies not yet sent stay under the bound;
// past it the requests wait in the socket (and then in the kernel, where TCP
// flow control stops the peer) until the peer reads.
void TcpConnection::readIncoming()
{
    if (m_reading)
        return;
    m_reading = true;
    while (m_open && m_socket->state() == QAbstractSocket::ConnectedState &&
           unsentBytes() <= MaxUnsentBytes) {
        const Take taken = takeFrame();
        if (taken == Take::Closed)
            break;
        if (taken == Take::NeedMore) {
            if (m_socket->bytesAvailable() == 0)
                break;
            m_buffer.append(m_socket->read(ReadChunk));
        }
    }
    m_reading = false;
}

// Takes one complete frame off the front of the buffer and handles it. A
// frame that cannot be Modbus TCP ends the connection: there is no way to
// find the next frame boundary in a byte stream after it.
TcpConnection::Take TcpConnection::takeFrame()
{
    if (m_buffer.size() < MbapHeaderSize)
        return Take::NeedMore;
    const int length = word(m_buffer, 4);
    if (word(m_buffer, 2) != 0 || length < MinLengthField || length > MaxLengthField) {
        m_core.log(
            {true, m_core.exchanges() + 1, "DROP", "garbage", m_buffer.left(MbapHeaderSize), -1});
        abort();
        return Take::Closed;
    }
    const int frameSize = 6 + length;
    if (m_buffer.size() < frameSize)
        return Take::NeedMore;
    const QByteArray frame = m_buffer.left(frameSize);
    m_buffer.remove(0, frameSize);
    const int exchange = m_core.nextExchange();

    if (m_core.model.restarting() || !m_core.admit()) {
        m_core.log({true, exchange, "RX", "no-reply", frame});
        return Take::Frame;
    }
    const PduOutcome outcome = m_core.handler.handle(std::uint8_t(frame[6]), frame.mid(7));
    m_core.log({true, exchange, "RX", simReplyOutcome(outcome.reply), frame});
    if (outcome.reply.isEmpty())
        return Take::Frame;
    QByteArray reply = frame.left(MbapHeaderSize);
    reply[4] = char((outcome.reply.size() + 1) >> 8);
    reply[5] = char((outcome.reply.size() + 1) & 0xFF);
    queueReply(reply + outcome.reply, outcome.restart, exchange);
    return m_open ? Take::Frame : Take::Closed;
}

void TcpConnection::queueReply(QByteArray frame, bool restartAfter, int exchange)
{
    const char *outcome = simReplyOutcome(frame.mid(MbapHeaderSize));
    qint64 due = m_clock.elapsed() + m_core.replyDelayMs(LateTcpMs);
    if (!m_outgoing.empty())
        due = std::max(due, m_outgoing.back().dueMs);
    m_queuedBytes += frame.size();
    if (m_core.options.split && frame.size() > 1) {
        const int half = frame.size() / 2;
        m_outgoing.push_back({frame.left(half), due, false, exchange, true, outcome});
        frame.remove(0, half);
        due += SplitGapMs;
        m_outgoing.push_back({frame, due, restartAfter, exchange, false, outcome});
    } else {
        m_outgoing.push_back({frame, due, restartAfter, exchange, true, outcome});
    }
    sendDue();
}

void TcpConnection::sendDue()
{
    while (m_open && !m_outgoing.empty() && m_outgoing.front().dueMs <= m_clock.elapsed()) {
        const Outgoing next = m_outgoing.front();
        m_outgoing.pop_front();
        m_queuedBytes -= next.bytes.size();
        m_core.log(
            {true, next.exchange, "TX", next.outcome, next.bytes, next.startsFrame ? 0 : -1});
        m_socket->write(next.bytes);
        m_socket->flush();
        if (next.restartAfter) {
            emit restartRequested();
            return;
        }
    }
    if (m_open && !m_outgoing.empty())
        m_sendTimer.start(int(m_outgoing.front().dueMs - m_clock.elapsed()));
}

TcpEndpoint::TcpEndpoint(const QHostAddress &address, quint16 port, SimCore &core, QObject *parent)
    : QObject(parent), m_address(address), m_port(port), m_core(core)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpEndpoint::acceptConnections);
    connect(&m_core.model, &UnitModel::restartBegan, this, &TcpEndpoint::dropAndRefuse);
    connect(&m_core.model, &UnitModel::restartEnded, this, &TcpEndpoint::serveAgain);
}

bool TcpEndpoint::listen(QString *error)
{
    if (!m_server.listen(m_address, m_port)) {
        *error = m_server.errorString();
        return false;
    }
    m_port = m_server.serverPort(); // a restart listens again on the same port
    return true;
}

QString TcpEndpoint::readyLine() const
{
    return QStringLiteral("ravelin-sim: listening on %1:%2 (Modbus TCP)")
        .arg(m_address.toString())
        .arg(m_port);
}

void TcpEndpoint::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *connection = new TcpConnection(socket, m_core, this);
        connect(connection, &TcpConnection::restartRequested, &m_core.model,
                &UnitModel::beginRestart);
        m_connections.append(connection);
    }
    m_connections.removeAll(nullptr);
}

void TcpEndpoint::dropAndRefuse()
{
    m_server.close();
    for (const QPointer<TcpConnection> &connection : std::as_const(m_connections))
        if (connection)
            connection->hangUp();
    m_connections.clear();
}

void TcpEndpoint::serveAgain()
{
    QString error;
    if (m_followUnit) {
        QString refusal;
        const std::optional<QString> target =
            loopbackListenAddress(m_core.model.ipOctets(), &refusal);
        const QHostAddress previous = m_address;
        if (target)
            m_address = QHostAddress(*target);
        if (listen(&error)) {
            if (!target)
                emit announcement(QStringLiteral("error restart: %1; still listening on %2:%3")
                                      .arg(refusal, m_address.toString())
                                      .arg(m_port));
            else
                emit announcement(readyLine());
            return;
        }
        if (m_address != previous) {
            const QString failed = error;
            m_address = previous;
            if (listen(&error)) {
                emit announcement(QStringLiteral("error restart: cannot listen on %1:%2: %3; "
                                                 "still listening on %4:%2")
                                      .arg(*target)
                                      .arg(m_port)
                                      .arg(failed, m_address.toString()));
                return;
            }
        }
    } else if (listen(&error)) {
        return;
    }
    qWarning("ravelin-sim: cannot listen again on %s:%u: %s", qPrintable(m_address.toString()),
             m_port, qPrintable(error));
}
