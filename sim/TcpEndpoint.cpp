#include "TcpEndpoint.h"

#include "SimCore.h"

#include <QTcpSocket>

namespace {

constexpr int MbapHeaderSize = 7; // transaction id, protocol id, length, unit id
// The length field counts the unit id and the PDU; a Modbus PDU is at most 253 bytes.
constexpr int MinLengthField = 2;
constexpr int MaxLengthField = 254;

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
    m_peer = QStringLiteral("tcp %1:%2")
                 .arg(m_socket->peerAddress().toString())
                 .arg(m_socket->peerPort());
    m_clock.start();
    m_sendTimer.setSingleShot(true);
    m_sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTimer, &QTimer::timeout, this, &TcpConnection::sendDue);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpConnection::readIncoming);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    readIncoming();
}

void TcpConnection::abort()
{
    m_outgoing.clear();
    m_sendTimer.stop();
    m_socket->abort();
    deleteLater();
}

// Closes after what was already written (the restart acknowledgement) has left.
void TcpConnection::hangUp()
{
    m_outgoing.clear();
    m_sendTimer.stop();
    m_buffer.clear();
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

void TcpConnection::readIncoming()
{
    m_buffer.append(m_socket->readAll());
    while (takeFrame()) {
    }
}

// Takes one complete frame off the front of the buffer and handles it. A
// frame that cannot be Modbus TCP ends the connection: there is no way to
// find the next frame boundary in a byte stream after it.
bool TcpConnection::takeFrame()
{
    if (m_buffer.size() < MbapHeaderSize)
        return false;
    const int length = word(m_buffer, 4);
    if (word(m_buffer, 2) != 0 || length < MinLengthField || length > MaxLengthField) {
        m_core.log("drop", m_peer, m_buffer.left(MbapHeaderSize));
        abort();
        return false;
    }
    const int frameSize = 6 + length;
    if (m_buffer.size() < frameSize)
        return false;
    const QByteArray frame = m_buffer.left(frameSize);
    m_buffer.remove(0, frameSize);
    m_core.log("rx", m_peer, frame);

    if (m_core.model.restarting() || !m_core.admit())
        return true;
    const PduOutcome outcome = m_core.handler.handle(std::uint8_t(frame[6]), frame.mid(7));
    if (outcome.reply.isEmpty())
        return true;
    QByteArray reply = frame.left(MbapHeaderSize);
    reply[4] = char((outcome.reply.size() + 1) >> 8);
    reply[5] = char((outcome.reply.size() + 1) & 0xFF);
    queueReply(reply + outcome.reply, outcome.restart);
    return true;
}

void TcpConnection::queueReply(QByteArray frame, bool restartAfter)
{
    qint64 due = m_clock.elapsed() + m_core.replyDelayMs(LateTcpMs);
    if (!m_outgoing.empty())
        due = std::max(due, m_outgoing.back().dueMs);
    if (m_core.options.split && frame.size() > 1) {
        const int half = frame.size() / 2;
        m_outgoing.push_back({frame.left(half), due, false});
        frame.remove(0, half);
        due += SplitGapMs;
    }
    m_outgoing.push_back({frame, due, restartAfter});
    sendDue();
}

void TcpConnection::sendDue()
{
    while (!m_outgoing.empty() && m_outgoing.front().dueMs <= m_clock.elapsed()) {
        const Outgoing next = m_outgoing.front();
        m_outgoing.pop_front();
        m_core.log("tx", m_peer, next.bytes);
        m_socket->write(next.bytes);
        m_socket->flush();
        if (next.restartAfter) {
            emit restartRequested();
            return;
        }
    }
    if (!m_outgoing.empty())
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
    if (!listen(&error))
        qWarning("ravelin-sim: cannot listen again on %s:%u: %s", qPrintable(m_address.toString()),
                 m_port, qPrintable(error));
}
