// ravelin-sim against libmodbus over loopback Modbus TCP.
//
// libmodbus frames only the standard function codes, so the unit's own codes
// go out through modbus_send_raw_request (libmodbus builds the MBAP header)
// and their replies are read by hand from libmodbus' socket. The simulator
// runs with --verbose, so its log of each frame shows exactly what libmodbus
// sent, transaction id included (libmodbus sends raw requests with id 0 and
// numbers its own requests from 1).

#include "SimProcess.h"

#include <modbus.h>

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int ReplyTimeoutMs = 3000;
constexpr int MbapSize = 7; // transaction id, protocol id, length, unit id

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray words(const QVector<int> &values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(v >> 8 & 0xFF)).append(char(v & 0xFF));
    return bytes;
}

QByteArray readPdu(int start, int count)
{
    return hex("6b") + words({start, count});
}

struct TcpReply
{
    int transactionId = -1;
    int protocolId = -1;
    int length = -1;
    int unit = -1;
    QByteArray pdu;
};

// One libmodbus TCP context on 127.0.0.1, closed and freed with the object.
class LibmodbusClient
{
public:
    explicit LibmodbusClient(int port) : m_ctx(modbus_new_tcp("127.0.0.1", port)) {}
    ~LibmodbusClient()
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }
    LibmodbusClient(const LibmodbusClient &) = delete;
    LibmodbusClient &operator=(const LibmodbusClient &) = delete;

    bool connect()
    {
        return m_ctx && modbus_set_response_timeout(m_ctx, ReplyTimeoutMs / 1000, 0) == 0 &&
               modbus_connect(m_ctx) == 0;
    }
    modbus_t *context() const { return m_ctx; }

    // Sends unit id + PDU through libmodbus; returns the bytes it put on the wire.
    int sendRaw(int unit, const QByteArray &pdu)
    {
        const QByteArray raw = char(unit) + pdu;
        return modbus_send_raw_request(m_ctx, reinterpret_cast<const uint8_t *>(raw.constData()),
                                       int(raw.size()));
    }

    // Reads one MBAP frame from libmodbus' socket; an empty PDU when it does
    // not arrive whole in time.
    TcpReply receive()
    {
        TcpReply reply;
        const QByteArray header = receiveBytes(MbapSize);
        if (header.size() < MbapSize)
            return reply;
        reply.transactionId = word(header, 0);
        reply.protocolId = word(header, 2);
        reply.length = word(header, 4);
        reply.unit = quint8(header[6]);
        if (reply.length >= 2 && reply.length <= 254)
            reply.pdu = receiveBytes(reply.length - 1);
        return reply;
    }

    // Everything that arrives within waitMs (to show nothing else came).
    QByteArray drain(int waitMs) { return receiveBytes(1 << 16, waitMs); }

private:
    static int word(const QByteArray &bytes, int at)
    {
        return quint8(bytes[at]) << 8 | quint8(bytes[at + 1]);
    }

    QByteArray receiveBytes(int size, int timeoutMs = ReplyTimeoutMs)
    {
        QByteArray bytes;
        QElapsedTimer clock;
        clock.start();
        const int fd = modbus_get_socket(m_ctx);
        while (bytes.size() < size) {
            const qint64 left = timeoutMs - clock.elapsed();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                break;
            char chunk[512];
            const ssize_t got = ::recv(
                fd, chunk, size_t(std::min<qsizetype>(sizeof chunk, size - bytes.size())), 0);
            if (got <= 0)
                break;
            bytes.append(chunk, int(got));
        }
        return bytes;
    }

    modbus_t *m_ctx;
};

QString frameLog(const QByteArray &frame)
{
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

} // namespace

class TstLibmodbus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readBlock_data();
    void readBlock();
    void writeBlockReadsBack();
    void exceptionReplies_data();
    void exceptionReplies();
    void standardReadRefusedAsIllegalFunction();

private:
    // Sends one raw request and checks the MBAP header of its reply against
    // the frame the simulator logged as received; returns the reply PDU.
    QByteArray exchange(int unit, const QByteArray &pdu);
    // Waits for a line of the simulator's log to match; the match, or an
    // invalid one when none appeared in time.
    QRegularExpressionMatch waitForLog(const QString &pattern);

    SimProcess m_sim;
    std::unique_ptr<LibmodbusClient> m_client;
};

void TstLibmodbus::init()
{
    QVERIFY(m_sim.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose")}));
    m_client = std::make_unique<LibmodbusClient>(m_sim.port());
    QVERIFY2(m_client->connect(), modbus_strerror(errno));
}

void TstLibmodbus::cleanup()
{
    m_client.reset();
    m_sim.stop();
    QCOMPARE(m_sim.exitCode(), 0);
}

QByteArray TstLibmodbus::exchange(int unit, const QByteArray &pdu)
{
    const int sent = m_client->sendRaw(unit, pdu);
    if (sent != MbapSize + pdu.size()) {
        qWarning("libmodbus sent %d bytes for a %d-byte PDU", sent, int(pdu.size()));
        return {};
    }
    const TcpReply reply = m_client->receive();
    if (reply.pdu.isEmpty()) {
        qWarning("no whole reply");
        return {};
    }
    // The reply's header repeats the request's transaction id, protocol id 0,
    // and a length that counts the unit id and the PDU.
    const QByteArray requestHeader = words({reply.transactionId, 0, int(pdu.size()) + 1});
    const QString received = frameLog(requestHeader + char(unit) + pdu);
    const bool logged = waitForLog(QRegularExpression::escape(received)).hasMatch();
    if (!logged || reply.protocolId != 0 || reply.length != reply.pdu.size() + 1 ||
        reply.unit != unit) {
        qWarning("header tid %d pid %d length %d unit %d; expected to find \"%s\" in:\n%s",
                 reply.transactionId, reply.protocolId, reply.length, reply.unit,
                 qPrintable(received), qPrintable(m_sim.output()));
        return {};
    }
    return reply.pdu;
}

QRegularExpressionMatch TstLibmodbus::waitForLog(const QString &pattern)
{
    const QRegularExpression expression(pattern);
    QElapsedTimer clock;
    clock.start();
    QRegularExpressionMatch match = expression.match(m_sim.output());
    while (!match.hasMatch() && clock.elapsed() < ReplyTimeoutMs) {
        QTest::qWait(10);
        match = expression.match(m_sim.output());
    }
    return match;
}

void TstLibmodbus::readBlock_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("start");
    QTest::addColumn<QVector<int>>("values");
    QTest::newRow("product and firmware") << 19 << 20 << QVector<int>{5173, 134};
    QTest::newRow("MAC") << 19 << 22 << QVector<int>{0x02, 0x7A, 0x1C, 0x05, 0x17, 0x3A};
    QTest::newRow("address, gateway, mask")
        << 20 << 7 << QVector<int>{192, 0, 2, 10, 192, 0, 2, 1, 255, 255, 255, 0};
    QTest::newRow("second address") << 20 << 19 << QVector<int>{192, 0, 2, 20};
    // "\x07Unit001", length first, high byte first.
    QTest::newRow("first name record") << 26 << 0 << QVector<int>{0x0755, 0x6E69, 0x7430, 0x3031};
}

void TstLibmodbus::readBlock()
{
    QFETCH(int, unit);
    QFETCH(int, start);
    QFETCH(QVector<int>, values);
    const QByteArray reply = exchange(unit, readPdu(start, int(values.size())));
    QCOMPARE(reply.toHex(), (hex("6b") + char(2 * values.size()) + words(values)).toHex());
    QCOMPARE(m_client->drain(50).toHex(), QByteArray());
}

void TstLibmodbus::writeBlockReadsBack()
{
    const QVector<int> values{192, 0, 2, 77};
    const QByteArray write = hex("6d") + words({19, 4}) + char(8) + words(values);
    QCOMPARE(exchange(20, write).toHex(), write.left(5).toHex());
    QCOMPARE(exchange(20, readPdu(19, 4)).toHex(), (hex("6b08") + words(values)).toHex());
    // The neighbours are untouched.
    QCOMPARE(exchange(20, readPdu(17, 2)).toHex(), (hex("6b04") + words({255, 0})).toHex());
}

void TstLibmodbus::exceptionReplies_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<QByteArray>("pdu");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("read past the space") << 19 << readPdu(60, 8) << hex("eb02");
    QTest::newRow("read count 0") << 19 << readPdu(0, 0) << hex("eb03");
    QTest::newRow("read count 126") << 26 << readPdu(0, 126) << hex("eb03");
    QTest::newRow("byte count mismatch")
        << 20 << hex("6d0013000202") + words({1, 2}) << hex("ed03");
    QTest::newRow("write firmware register") << 19 << hex("6c0015") + words({1}) << hex("ec02");
    QTest::newRow("unknown unit") << 99 << readPdu(0, 1) << hex("eb0b");
    QTest::newRow("unknown function") << 19 << hex("41") << hex("c101");
}

void TstLibmodbus::exceptionReplies()
{
    QFETCH(int, unit);
    QFETCH(QByteArray, pdu);
    QFETCH(QByteArray, reply);
    QCOMPARE(exchange(unit, pdu).toHex(), reply.toHex());
    // The connection stays usable after an exception.
    QCOMPARE(exchange(19, readPdu(20, 1)).toHex(), hex("6b021435").toHex());
}

void TstLibmodbus::standardReadRefusedAsIllegalFunction()
{
    // libmodbus matches the reply's transaction id to the one it sent
    // before it looks at the exception code.
    QVERIFY(modbus_set_slave(m_client->context(), 19) == 0);
    uint16_t values[2] = {0xAAAA, 0xAAAA};
    errno = 0;
    QCOMPARE(modbus_read_registers(m_client->context(), 20, 2, values), -1);
    QCOMPARE(errno, EMBXILFUN);
    QCOMPARE(values[0], uint16_t(0xAAAA));

    // The simulator's log shows the id libmodbus chose and the same id on
    // the exception reply.
    const QRegularExpressionMatch request = waitForLog(
        QStringLiteral(" RX .*\\| ([0-9A-F]{2} [0-9A-F]{2}) 00 00 00 06 13 03 00 14 00 02"));
    QVERIFY2(request.hasMatch(), qPrintable(m_sim.output()));
    const QString tid = request.captured(1);
    QVERIFY(tid != QStringLiteral("00 00"));
    QVERIFY2(
        waitForLog(QStringLiteral(" TX .*\\| ") + tid + QStringLiteral(" 00 00 00 03 13 83 01"))
            .hasMatch(),
        qPrintable(m_sim.output()));
    // libmodbus keeps the connection; the unit's own function still works on it.
    QCOMPARE(exchange(19, readPdu(20, 2)).toHex(), (hex("6b04") + words({5173, 134})).toHex());
}

QTEST_GUILESS_MAIN(TstLibmodbus)
#include "tst_libmodbus.moc"
