#pragma once

// Modbus TCP endpoint: MBAP framing over any number of connections at once.
// Replies leave in request order, each at its due time, so delayed or split
// replies never block the simulator.

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
    };

    void readIncoming();
    bool takeFrame();
    void queueReply(QByteArray frame, bool restartAfter);
    void sendDue();

    QTcpSocket *m_socket;
    SimCore &m_core;
    QString m_peer;
    QByteArray m_buffer;
    std::deque<Outgoing> m_outgoing;
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

private:
    void acceptConnections();
    void dropAndRefuse();
    void serveAgain();

    QHostAddress m_address;
    quint16 m_port;
    SimCore &m_core;
    QTcpServer m_server;
    QList<QPointer<TcpConnection>> m_connections;
};
