#pragma once

// Modbus TCP endpoint: MBAP framing over any number of connections at once.
// Replies leave in request order, each at its due time, so delayed or split
// replies never block the simulator. A connection whose peer does not read
// its replies is not read either once a bound of unsent bytes is passed, so
// memory stays bounded and the other connections keep being served.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <deque>

class QTcpSocket;
class SimCore;

class TcpConnection : public QObject
{
    Q_OBJECT
public:
    TcpConnection(QTcpSocket *socket, SimCore &core, QObject *parent);
    void abort();
    void hangUp();

signals:
    void restartRequested();

private:
    struct Outgoing
    {
        QByteArray bytes;
        qint64 dueMs;
        bool restartAfter;
        int exchange;        // the request it answers, for the log
        bool startsFrame;    // false for the second piece of a split reply
        const char *outcome; // for the log
    };

    enum class Take
    {
        Frame,
        NeedMore,
        Closed
    };

    void readIncoming();
    Take takeFrame();
    void queueReply(QByteArray frame, bool restartAfter, int exchange);
    void sendDue();
    void close();
    qint64 unsentBytes() const;

    QTcpSocket *m_socket;
    SimCore &m_core;
    QByteArray m_buffer;
    std::deque<Outgoing> m_outgoing;
    qint64 m_queuedBytes = 0; // in m_outgoing
    bool m_open = true;       // false once closed: nothing more is read or answered
    bool m_reading = false;   // readIncoming is running
    QTimer m_sendTimer;
    QElapsedTimer m_clock;
};

class TcpEndpoint : public QObject
{
    Q_OBJECT
public:
    TcpEndpoint(const QHostAddress &address, quint16 port, SimCore &core,
                QObject *parent = nullptr);

    bool listen(QString *error);
    QString readyLine() const;
    // After each restart the endpoint listens again at the address the
    // unit's registers now hold when that is a loopback address (same port),
    // and announces where it listens; any other address is refused with an
    // "error ..." announcement and the endpoint stays where it was.
    void followUnitAddress() { m_followUnit = true; }

signals:
    // A line for standard output, as the ready line is.
    void announcement(const QString &line);

private:
    void acceptConnections();
    void dropAndRefuse();
    void serveAgain();

    QHostAddress m_address;
    quint16 m_port;
    SimCore &m_core;
    QTcpServer m_server;
    QList<QPointer<TcpConnection>> m_connections;
    bool m_followUnit = false;
};
