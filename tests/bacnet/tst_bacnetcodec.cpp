// The BACnet/IP datagrams the tool sends, byte for byte, and how it reads
// the replies: golden datagrams of each kind, and a table of damaged ones
// that must be judged malformed without reading outside them.

#include "BacnetCodec.h"

#include <QtTest>

using namespace Bacnet;

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
} // namespace

class TstBacnetCodec : public QObject
{
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void replies_data();
    void replies();
    void damaged_data();
    void damaged();
    void characterSets_data();
    void characterSets();
};

void TstBacnetCodec::requests_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("golden");
    QTest::newRow("Who-Is, directed") << encodeWhoIs({}, false) << hex("810a0008 0100 1008");
    QTest::newRow("Who-Is, broadcast, 100 to 200")
        << encodeWhoIs({100, 200}, true) << hex("810b000c 0100 1008 0964 19c8");
    QTest::newRow("Who-Is, 0 to the largest instance")
        << encodeWhoIs({0, MaxInstance}, false) << hex("810a000e 0100 1008 0900 1b3ffffe");
    QTest::newRow("ReadProperty object-name of device 1234")
        << encodeReadProperty({1, {DeviceObjectType, 1234}, 77})
        << hex("810a0011 0104 0005010c 0c020004d2 194d");
    QTest::newRow("ReadProperty protocol-revision (139), invoke 200")
        << encodeReadProperty({200, {DeviceObjectType, 4194302}, 139})
        << hex("810a0011 0104 0005c80c 0c023ffffe 198b");
}

void TstBacnetCodec::requests()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, golden);
    QCOMPARE(sent.toHex(' '), golden.toHex(' '));
}

void TstBacnetCodec::replies_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("summary");
    const auto kind = [](Reply::Kind k) {
        return int(k);
    };
    QTest::newRow("I-Am") << hex("810b0015 0100 1000 c4020004d2 2205c4 9103 220104")
                          << kind(Reply::Kind::IAm) << "8/1234 apdu 1476 none vendor 260";
    QTest::newRow("I-Am forwarded by a BBMD")
        << hex("8104001b c0a8010abac0 0100 1000 c4020004d2 2205c4 9103 220104")
        << kind(Reply::Kind::IAm) << "8/1234 apdu 1476 none vendor 260";
    QTest::newRow("I-Am routed from network 5")
        << hex("810a0019 0108 00050107 1000 c4020004d2 2205c4 9103 220104")
        << kind(Reply::Kind::IAm) << "8/1234 apdu 1476 none vendor 260";
    QTest::newRow("object-name acknowledged")
        << hex("810a001a 0100 30010c 0c020004d2 194d 3e 7506 00506c616e74 3f")
        << kind(Reply::Kind::PropertyAck) << "invoke 1 8/1234 object-name Plant";
    QTest::newRow("vendor-identifier acknowledged, array index given")
        << hex("810a0016 0100 30020c 0c020004d2 1978 2900 3e 2101 3f")
        << kind(Reply::Kind::PropertyAck) << "invoke 2 8/1234 vendor-identifier 1";
    QTest::newRow("unknown property")
        << hex("810a000d 0100 50010c 9102 9120") << kind(Reply::Kind::Error)
        << "invoke 1 unknown-property (property)";
    QTest::newRow("unknown object")
        << hex("810a000d 0100 50070c 9101 911f") << kind(Reply::Kind::Error)
        << "invoke 7 unknown-object (object)";
    QTest::newRow("reject") << hex("810a0009 0100 600509") << kind(Reply::Kind::Reject)
                            << "invoke 5 reason 9";
    QTest::newRow("abort from the server")
        << hex("810a0009 0100 710504") << kind(Reply::Kind::Abort) << "invoke 5 reason 4";
    QTest::newRow("another station's Who-Is")
        << hex("810b0008 0100 1008") << kind(Reply::Kind::WhoIs) << "";
    QTest::newRow("network layer message")
        << hex("810b0007 0180 00") << kind(Reply::Kind::Ignored) << "";
    QTest::newRow("BVLC result") << hex("81000006 0000") << kind(Reply::Kind::Ignored) << "";
}

void TstBacnetCodec::replies()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, kind);
    QFETCH(QString, summary);
    const Reply r = decodeReply(datagram);
    QVERIFY2(int(r.kind) == kind, qPrintable(r.problem));
    QString got;
    switch (r.kind) {
    case Reply::Kind::IAm:
        got = QStringLiteral("%1/%2 apdu %3 %4 vendor %5")
                  .arg(r.iam.device.type)
                  .arg(r.iam.device.instance)
                  .arg(r.iam.maxApdu)
                  .arg(segmentationText(r.iam.segmentation))
                  .arg(r.iam.vendorId);
        break;
    case Reply::Kind::PropertyAck:
        got = QStringLiteral("invoke %1 %2/%3 %4 %5")
                  .arg(r.invokeId)
                  .arg(r.object.type)
                  .arg(r.object.instance)
                  .arg(propertyName(r.property), valueText(r.value));
        break;
    case Reply::Kind::Error:
        got = QStringLiteral("invoke %1 %2")
                  .arg(r.invokeId)
                  .arg(errorText(r.errorClass, r.errorCode));
        break;
    case Reply::Kind::Reject:
    case Reply::Kind::Abort:
        got = QStringLiteral("invoke %1 reason %2").arg(r.invokeId).arg(r.errorCode);
        break;
    default:
        break;
    }
    QCOMPARE(got, summary);
}

// Each is refused as malformed; none may be read past its end (the
// sanitizer build checks that).
void TstBacnetCodec::damaged_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << hex("81");
    QTest::newRow("not BACnet/IP") << hex("820a0008 0100 1008");
    QTest::newRow("length larger than the datagram") << hex("810a0009 0100 1008");
    QTest::newRow("length smaller than the datagram") << hex("810a0007 0100 1008");
    QTest::newRow("forwarded, origin cut") << hex("81040007 c0a801");
    QTest::newRow("network layer version 2") << hex("810a0008 0200 1008");
    QTest::newRow("destination address cut") << hex("810a0009 0120 00ff 05");
    QTest::newRow("source address of length 0") << hex("810a000c 0108 0005 00 1008");
    QTest::newRow("no application layer") << hex("810a0006 0100");
    QTest::newRow("I-Am cut in its object id") << hex("810a000c 0100 1000 c40200");
    QTest::newRow("I-Am without vendor") << hex("810a0012 0100 1000 c4020004d2 2205c4 9103");
    QTest::newRow("I-Am with a 9-byte unsigned")
        << hex("810a001d 0100 1000 c4020004d2 2509010203040506070809 9103 2101");
    QTest::newRow("string longer than the datagram")
        << hex("810a0017 0100 30010c 0c020004d2 194d 3e 75ff 0050 3f");
    QTest::newRow("string with a 4-byte length")
        << hex("810a001a 0100 30010c 0c020004d2 194d 3e 75ffffffffff 3f");
    QTest::newRow("value without closing tag")
        << hex("810a0019 0100 30010c 0c020004d2 194d 3e 7506 00506c616e74");
    QTest::newRow("acknowledgement without value") << hex("810a0010 0100 30010c 0c020004d2 194d");
    QTest::newRow("segmented acknowledgement") << hex("810a000a 0100 3801 0000");
    QTest::newRow("error without code") << hex("810a000b 0100 50010c 9102");
    QTest::newRow("extended tag number cut") << hex("810a000d 0100 1000 f9");
    QTest::newRow("oversized") << (hex("810a05dc 0100 1008") + QByteArray(1490, '\0'));
}

void TstBacnetCodec::damaged()
{
    QFETCH(QByteArray, datagram);
    const Reply r = decodeReply(datagram);
    QCOMPARE(int(r.kind), int(Reply::Kind::Malformed));
    QVERIFY(!r.problem.isEmpty());
}

void TstBacnetCodec::characterSets_data()
{
    QTest::addColumn<QByteArray>("content"); // the character string's content
    QTest::addColumn<QString>("text");
    QTest::newRow("UTF-8") << hex("00 526f6f6d20c3a9") << QStringLiteral("Room \u00e9");
    QTest::newRow("UCS-2") << hex("04 00520023") << QStringLiteral("R#");
    QTest::newRow("ISO 8859-1") << hex("05 52e9") << QStringLiteral("R\u00e9");
    QTest::newRow("other set") << hex("03 4142") << QStringLiteral("(character set 3)");
    QTest::newRow("empty UTF-8") << hex("00") << QString();
}

void TstBacnetCodec::characterSets()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, text);
    QByteArray apdu = hex("30010c 0c020004d2 194d 3e 75");
    apdu.append(char(content.size()));
    apdu.append(content);
    apdu.append(char(0x3f));
    QByteArray datagram = hex("810a0000 0100") + apdu;
    datagram[2] = char(datagram.size() >> 8);
    datagram[3] = char(datagram.size() & 0xff);
    const Reply r = decodeReply(datagram);
    QCOMPARE(int(r.kind), int(Reply::Kind::PropertyAck));
    QCOMPARE(r.value.text, text);
}

QTEST_GUILESS_MAIN(TstBacnetCodec)
#include "tst_bacnetcodec.moc"
