// The report's PDF layout on its own: rows of one to many lines never split
// across pages, headings stay with their tables, nothing runs into the
// margins, and the printed names fill at most two pages.

#include "PdfPages.h"
#include "ReportPdf.h"
#include "UnitReport.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int Dpi = 50;

// `rows` rows whose value cell holds `linesPerRow(i)` lines "rN lineM".
QString tableHtml(int rows, int (*linesPerRow)(int))
{
    QString html = QStringLiteral("<html><body><h2>Rows</h2><table border=\"1\" cellspacing=\"0\" "
                                  "cellpadding=\"5\" width=\"100%\">");
    for (int r = 1; r <= rows; ++r) {
        QStringList lines;
        for (int m = 1; m <= linesPerRow(r); ++m)
            lines << QStringLiteral("r%1line%2").arg(r).arg(m);
        html += QStringLiteral("<tr><th>r%1label</th><td>%2</td></tr>")
                    .arg(r)
                    .arg(lines.join(QLatin1String("<br/>")));
    }
    return html + QStringLiteral("</table></body></html>");
}

} // namespace

class TestReportPdf : public QObject
{
    Q_OBJECT

private slots:
    void rowsStayWhole_data();
    void rowsStayWhole();
    void unitReportPrints();

private:
    QTemporaryDir m_dir;
};

void TestReportPdf::rowsStayWhole_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("kind");
    // Rows of different heights meet page ends at every offset.
    QTest::newRow("one to four lines") << 120 << 0;
    QTest::newRow("three lines") << 90 << 1;
    QTest::newRow("tall rows") << 30 << 2;
}

void TestReportPdf::rowsStayWhole()
{
    QFETCH(int, rows);
    QFETCH(int, kind);
    static int (*const shapes[])(int) = {[](int r) { return 1 + r % 4; }, [](int) { return 3; },
                                         [](int r) {
                                             return 9 + r % 7;
                                         }};
    const QString pdftoppm = PdfPages::tool("pdftoppm");
    const QString pdftotext = PdfPages::tool("pdftotext");
    if (pdftoppm.isEmpty() || pdftotext.isEmpty())
        return;
    const QString path = m_dir.filePath(QStringLiteral("rows.pdf"));
    QString error;
    QVERIFY2(writeReportPdf(path, tableHtml(rows, shapes[kind]), QStringLiteral("test"), &error),
             qPrintable(error));
    const QList<QImage> pages = PdfPages::render(pdftoppm, path, Dpi);
    QVERIFY(pages.size() > 1); // the rows cross at least one page end
    QStringList texts;
    for (int p = 0; p < pages.size(); ++p) {
        QCOMPARE(PdfPages::inkInMargins(pages[p], Dpi, 12), 0);
        texts << PdfPages::text(pdftotext, path, p + 1);
    }
    const auto pageOf = [&texts](const QString &word) {
        for (int p = 0; p < texts.size(); ++p)
            if (texts[p].contains(QRegularExpression(QStringLiteral("\\b%1\\b").arg(word))))
                return p;
        return -1;
    };
    QCOMPARE(pageOf(QStringLiteral("Rows")), 0);
    for (int r = 1; r <= rows; ++r) {
        const int page = pageOf(QStringLiteral("r%1label").arg(r));
        QVERIFY(page >= 0);
        for (int m = 1; m <= shapes[kind](r); ++m)
            QVERIFY2(pageOf(QStringLiteral("r%1line%2").arg(r).arg(m)) == page,
                     qPrintable(QStringLiteral("row %1 line %2").arg(r).arg(m)));
    }
}

// The printed report of a unit with the widest names: every name readable
// (long names wrap inside their column), two pages.
void TestReportPdf::unitReportPrints()
{
    const QString pdftoppm = PdfPages::tool("pdftoppm");
    const QString pdftotext = PdfPages::tool("pdftotext");
    if (pdftoppm.isEmpty() || pdftotext.isEmpty())
        return;
    UnitReport report;
    ObjectNameList names;
    for (int n = 1; n <= ObjectNameCount; ++n)
        names[std::size_t(n - 1)] = QByteArray(MaxObjectNameLength, char('A' + n % 26));
    report.config.objectNames = names;
    report.engineer = QStringLiteral("C. Sign");
    report.madeAt = QDateTime(QDate(2026, 3, 4), QTime(12, 0));
    const QString path = m_dir.filePath(QStringLiteral("unit.pdf"));
    QString error;
    QVERIFY2(writeReportPdf(path, unitReportHtml(report, ReportMedium::Print),
                            QStringLiteral("test"), &error),
             qPrintable(error));
    const QList<QImage> pages = PdfPages::render(pdftoppm, path, Dpi);
    QVERIFY(!pages.isEmpty() && pages.size() <= 2);
    QString all;
    for (int p = 0; p < pages.size(); ++p) {
        QCOMPARE(PdfPages::inkInMargins(pages[p], Dpi, 12), 0);
        all += PdfPages::text(pdftotext, path, p + 1);
    }
    all.remove(QRegularExpression(QStringLiteral("\\s")));
    for (const QString &expected : {QStringLiteral("C.Sign"), QStringLiteral("2026-03-04"),
                                    QString(MaxObjectNameLength, QLatin1Char('Z'))})
        QVERIFY2(all.contains(expected), qPrintable(expected));
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestReportPdf test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reportpdf.moc"
