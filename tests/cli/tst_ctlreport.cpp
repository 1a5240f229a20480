// ravelinctl report: the HTML page read back as XML holds every value the
// unit was given, stands alone, and the PDF comes out as a real document.

#include "FileTestKit.h"
#include "PdfPages.h"

#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Every "label: value" row of the page's tables and the names table.
struct ParsedReport
{
    QMap<QString, QString> fields;
    QMap<QString, QString> names; // "001" to "100"
    QString error;
};

ParsedReport parseReport(const QByteArray &html)
{
    ParsedReport report;
    QXmlStreamReader xml(html);
    QStringList cells;
    QString text;
    bool inCell = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("tr"))
            cells.clear();
        else if (xml.isStartElement() &&
                 (xml.name() == QLatin1String("th") || xml.name() == QLatin1String("td"))) {
            inCell = true;
            text.clear();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("br"))
            text += QLatin1Char('\n');
        else if (xml.isCharacters() && inCell)
            text += xml.text();
        else if (xml.isEndElement() &&
                 (xml.name() == QLatin1String("th") || xml.name() == QLatin1String("td"))) {
            inCell = false;
            cells << text;
        } else if (xml.isEndElement() && xml.name() == QLatin1String("tr") && cells.size() == 2) {
            if (cells[0].size() == 3 && cells[0].front().isDigit())
                report.names.insert(cells[0], cells[1]);
            else
                report.fields.insert(cells[0], cells[1]);
        }
    }
    if (xml.hasError())
        report.error = xml.errorString();
    return report;
}

} // namespace

class TstCtlReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void htmlHoldsEveryValue();
    void pdfIsADocument();
    void wrongFileKindIsRefusedBeforeConnecting();
    void engineerFieldsInHtmlAndPdf_data();
    void engineerFieldsInHtmlAndPdf();

private:
    QTemporaryDir m_dir;
    SimProcess m_sim;
};

void TstCtlReport::initTestCase()
{
    QVERIFY(m_sim.start({QStringLiteral("--no-animate"), QStringLiteral("--verbose")}));
    SimLine line(m_sim.port());
    QVERIFY(line.open());
    QVERIFY(line.write(
        NetworkUnitId, 7,
        std::array<std::uint16_t, 16>{10, 1, 2, 3, 10, 1, 2, 254, 255, 255, 254, 0, 10, 1, 9, 9}));
    QVERIFY(line.write(SystemUnitId, FnWriteBlock, ConfigLockRegister, {ConfigLockedWord}));
    QVERIFY(line.write(SystemUnitId, FnWriteMacBlock, MacFirstRegister,
                       {0xA0, 0x0B, 8, 0x12, 0x34, 0x56}));
    QVERIFY(line.write(BACnetUnitId, 0, encodeDeviceObjectId(4194302)));
    QVERIFY(line.write(BACnetUnitId, 3, encodeDeviceName("R&D <Lab> \xC9t\xE9")));
    QVERIFY(line.writeName(7, "A&B <C>"));
    QVERIFY(line.writeName(8, QByteArray("tab\there\x01")));
    // The widest names there are: nothing may run out of the printed columns.
    for (int n = 50; n < 53; ++n)
        QVERIFY(line.writeName(n, QByteArray(MaxObjectNameLength, 'W')));
    QVERIFY(line.writeName(53, QByteArray(MaxObjectNameLength, '\x01')));
    // Live status: link down, one G50 step, registration flags, switch 1 off.
    QVERIFY(line.write(StatusUnitId, 0, std::array<std::uint16_t, 4>{1, 0, 0, 0}));
    QVERIFY(line.write(StatusUnitId, 4, std::array<std::uint16_t, 7>{0, 1, 192, 0, 2, 200, 300}));
    std::array<std::uint16_t, 29> rest{}; // registers 11 to 39
    rest[14 - 11] = 0x02;
    rest[15 - 11] = 0x0E;
    rest[18 - 11] = 3;
    rest[19 - 11] = 100;
    rest[20 - 11] = 4000;
    rest[21 - 11] = 21;
    rest[22 - 11] = 3;
    rest[23 - 11] = 1;
    rest[25 - 11] = 1;
    rest[38 - 11] = 0x0609;
    rest[39 - 11] = 0x0020;
    QVERIFY(line.write(StatusUnitId, 11, rest));
}

void TstCtlReport::htmlHoldsEveryValue()
{
    const QString path = m_dir.filePath(QStringLiteral("unit.html"));
    const CtlRun run = ctlAt(m_sim.port(), {QStringLiteral("report"), path});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray html = readFile(path);
    const ParsedReport r = parseReport(html);
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));

    const QMap<QString, QString> expected{
        {"Unit reached at", QStringLiteral("127.0.0.1:%1").arg(m_sim.port())},
        {"Product", "QX5173 v1.34"},
        {"Product code", "5173"},
        {"Firmware version", "1.34"},
        {"MAC address", "A0:0B:08:12:34:56"},
        {"IP address", "10.1.2.3"},
        {"Gateway address", "10.1.2.254"},
        {"Subnet mask", "255.255.254.0"},
        {"Allow config via network", "No"},
        {"G50 IP address", "10.1.9.9"},
        {"Device instance", "4194302"},
        {"Device name", QString::fromUtf8("R&D <Lab> \xC3\x89t\xC3\xA9")},
        {"New setting comparison", "Off"},
        {"Register as a foreign device", "Yes"},
        {"BBMD IP address", "192.0.2.200"},
        {"Time to live", "300 seconds"},
        {"G50 link", "G50 Comms Link Error"},
        {"Mnet", "Mnet Comms State Unknown"},
        {"Start Process", "No"},
        {"Found G50", "Yes"},
        {"Network Cable Connected", "No"},
        {"Sent I-Am Msg At Startup", "No"},
        {"Foreign Device Reg. Enabled", "Yes"},
        {"Sent Registration Msg", "Yes"},
        {"Got Registration Reply", "Yes"},
        {"Received Who-Is Request", "No"},
        {"G50 poll state", "6"},
        {"G50 group being polled", "9"},
        {"NIC revision ID", "21"},
        {"Received packets pending", "3"},
        {"Receive buffer usage", "10%"},
        {"Transmit buffers", "3: busy free busy"},
        {"Bank A switch 1", "OFF\nAuto mode will report as Auto."},
        {"Bank A switch 2", "ON\nAll Present-Value and Priority Arrays are preserved.\nOutput "
                            "object PV = Input object PV."},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(r.fields.value(it.key(), QStringLiteral("(missing)")), it.value());
    QVERIFY(r.fields.value("Report made").endsWith(QStringLiteral(" UTC")));
    QVERIFY(r.fields.value("Made with").startsWith(QStringLiteral("ravelinctl ")));

    QCOMPARE(r.names.size(), 100);
    QCOMPARE(r.names.value("001"), QStringLiteral("Unit001"));
    QCOMPARE(r.names.value("007"), QStringLiteral("A&B <C>"));
    QCOMPARE(r.names.value("008"), QStringLiteral("tab\\x09here\\x01"));
    QCOMPARE(r.names.value("100"), QStringLiteral("Unit100"));

    // Self-contained: nothing for a browser to fetch.
    for (const char *outside : {"src=", "href=", "url(", "@import", "<script", "<link"})
        QVERIFY2(!html.contains(outside), outside);
}

void TstCtlReport::pdfIsADocument()
{
    const QString path = m_dir.filePath(QStringLiteral("unit.pdf"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM")); // it must run without being told
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // as for root in a plain shell
    const CtlRun run = runCtl({QStringLiteral("--tcp-port"), QString::number(m_sim.port()),
                               QStringLiteral("report"), path},
                              env);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("XDG_RUNTIME_DIR")), qPrintable(run.err));
    const QByteArray pdf = readFile(path);
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QVERIFY(pdf.size() > 5000); // a page of tables, not an empty document
    QVERIFY(pdf.contains("/Type /Page"));
}

void TstCtlReport::wrongFileKindIsRefusedBeforeConnecting()
{
    const int before = int(requestFunctions(m_sim).size());
    const CtlRun run = ctlAt(m_sim.port(), {QStringLiteral("report"), m_dir.filePath("unit.txt")});
    QCOMPARE(run.exitCode, 64);
    QVERIFY(run.err.contains(QStringLiteral("FILE.html or FILE.pdf")));
    QCOMPARE(int(requestFunctions(m_sim).size()), before);
    QVERIFY(!QFile::exists(m_dir.filePath("unit.txt")));
}

void TstCtlReport::engineerFieldsInHtmlAndPdf_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("engineer");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<int>("maxPages");

    QTest::newRow("short") << QStringLiteral("Plant room 3 & roof <B>")
                           << QStringLiteral("A. Engineer") << QStringList{"Handed over"} << 2;
    QStringList many;
    for (int i = 1; i <= 12; ++i)
        many << QStringLiteral("Riser %1 checked").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("notes over lines") << QStringLiteral("Site") << QStringLiteral("B") << many << 3;
    // Notes that cannot stay on the first page: the row moves whole.
    QStringList tall;
    for (int i = 1; i <= 44; ++i)
        tall << QStringLiteral("Damper %1 stroked").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("notes row past the page") << QString() << QString() << tall << 4;
}

void TstCtlReport::engineerFieldsInHtmlAndPdf()
{
    QFETCH(QString, site);
    QFETCH(QString, engineer);
    QFETCH(QStringList, notes);
    QFETCH(int, maxPages);
    const QStringList fields{QStringLiteral("--site"),     site,
                             QStringLiteral("--engineer"), engineer,
                             QStringLiteral("--notes"),    notes.join(QLatin1String("\\n"))};

    const QString html = m_dir.filePath(QStringLiteral("fields.html"));
    CtlRun run = ctlAt(m_sim.port(), QStringList{QStringLiteral("report"), html} + fields);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const ParsedReport r = parseReport(readFile(html));
    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
    QCOMPARE(r.fields.value(QStringLiteral("Site"), QStringLiteral("(none)")),
             site.isEmpty() ? QStringLiteral("(none)") : site);
    QCOMPARE(r.fields.value(QStringLiteral("Engineer")), engineer); // the sign-off's line
    QCOMPARE(r.fields.value(QStringLiteral("Notes")), notes.join(QLatin1Char('\n')));
    QCOMPARE(r.fields.value(QStringLiteral("Date")), QDate::currentDate().toString(Qt::ISODate));
    QVERIFY(r.fields.contains(QStringLiteral("Signature")));

    const QString pdftoppm = PdfPages::tool("pdftoppm");
    const QString pdftotext = PdfPages::tool("pdftotext");
    if (pdftoppm.isEmpty() || pdftotext.isEmpty())
        return;
    const QString pdf = m_dir.filePath(QStringLiteral("fields.pdf"));
    run = ctlAt(m_sim.port(), QStringList{QStringLiteral("report"), pdf} + fields);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    constexpr int Dpi = 60;
    const QList<QImage> pages = PdfPages::render(pdftoppm, pdf, Dpi);
    QVERIFY(!pages.isEmpty());
    QVERIFY2(pages.size() <= maxPages, qPrintable(QString::number(pages.size())));
    QStringList texts;
    for (int p = 0; p < pages.size(); ++p) {
        // The margins are 15 mm: ink in the outer 12 mm ran over the page.
        QCOMPARE(PdfPages::inkInMargins(pages[p], Dpi, 12), 0);
        texts << PdfPages::text(pdftotext, pdf, p + 1);
    }
    const QString all = texts.join(QLatin1Char('\n'));
    for (const QString &expected :
         QStringList{site, engineer, QStringLiteral("Sign-off"), QStringLiteral("Unit reached at")})
        QVERIFY2(all.contains(expected), qPrintable(expected));
    // A row is never split across pages: every line of the notes on one page.
    const auto pageOf = [&texts](const QString &needle) {
        for (int p = 0; p < texts.size(); ++p)
            if (texts[p].contains(needle))
                return p;
        return -1;
    };
    const int notesPage = pageOf(notes.first());
    QVERIFY(notesPage >= 0);
    for (const QString &line : notes)
        QCOMPARE(pageOf(line), notesPage);
    // The names stand in columns: at most two pages hold them.
    QSet<int> namePages;
    for (int n = 1; n <= 100; ++n)
        if (n != 7 && n != 8 && (n < 50 || n > 53))
            namePages << pageOf(QStringLiteral("Unit%1").arg(n, 3, 10, QLatin1Char('0')));
    QVERIFY(!namePages.contains(-1));
    QVERIFY(namePages.size() <= 2);
}

QTEST_GUILESS_MAIN(TstCtlReport)
#include "tst_ctlreport.moc"
