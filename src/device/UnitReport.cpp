#include "UnitReport.h"

#include "Codecs.h"
#include "StatusTexts.h"

namespace {

// The page's style, inline so the file stands alone. The table attributes in
// the markup carry the same borders for renderers that take little CSS.
const char *const Style = "body { font-family: sans-serif; font-size: 10pt; }\n"
                          "h1 { font-size: 16pt; }\n"
                          "h2 { font-size: 12pt; margin-top: 14pt; }\n"
                          "table { border-collapse: collapse; }\n"
                          "th, td { border: 1px solid #999; padding: 2pt 6pt; text-align: left;"
                          " vertical-align: top; }\n"
                          "th { background: #eee; font-weight: normal; }\n";
// Printed, the layout takes padding in pixels only.
const char *const PrintStyle = "body { font-size: 9pt; }\n"
                               "h2 { margin-top: 8pt; margin-bottom: 2pt; }\n"
                               "th, td { padding: 1px 6px; }\n"
                               "th.title { font-size: 12pt; font-weight: bold; }\n";

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// Builds the page one table at a time. Printed tables span the page and
// carry more padding: the PDF's layout takes the table attributes, not the
// style sheet's padding.
class Page
{
public:
    explicit Page(ReportMedium medium) : m_medium(medium) {}
    ReportMedium medium() const { return m_medium; }
    void heading(const QString &text)
    {
        m_html += QStringLiteral("<h2>%1</h2>\n").arg(escaped(text));
    }
    void beginTable(const QString &cls = {})
    {
        m_html += QStringLiteral("<table%1 border=\"1\" cellspacing=\"0\" cellpadding=\"%2\"%3>\n")
                      .arg(cls.isEmpty() ? QString() : QStringLiteral(" class=\"%1\"").arg(cls))
                      .arg(m_medium == ReportMedium::Print ? 5 : 3)
                      .arg(m_medium == ReportMedium::Print ? QStringLiteral(" width=\"100%\"")
                                                           : QString());
    }
    void endTable() { m_html += QStringLiteral("</table>\n"); }
    void row(const QString &label, const QString &value)
    {
        // Printed, every table's labels take the same share of the width.
        m_html +=
            QStringLiteral("<tr><th%1>%2</th><td>%3</td></tr>\n")
                .arg(m_medium == ReportMedium::Print ? QStringLiteral(" width=\"35%\"") : QString(),
                     escaped(label), cell(value));
    }
    void raw(const QString &html) { m_html += html; }
    QString html() const { return m_html; }

    // Line breaks inside a value (the switch meanings, notes) become <br/>.
    static QString cell(const QString &value)
    {
        QString text = escaped(value);
        text.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
        return text;
    }

private:
    ReportMedium m_medium;
    QString m_html;
};

// A row's label and value; names show control characters escaped.
template <typename S> void settingRow(Page &page, const SettingRow<S> &row, const S &value)
{
    const bool isName = row.codec == Codec::DeviceName || row.codec == Codec::ObjectName;
    page.row(QLatin1String(row.reportLabel),
             isName ? printableName(std::get<QByteArray>(row.get(value)))
                    : settingText(row, value, SettingSurface::Report));
}

template <typename S, std::size_t N>
void settingRows(Page &page, const SettingTable<S, N> &rows, const S &value)
{
    for (const SettingRow<S> &row : rows)
        if (row.reportLabel)
            settingRow(page, row, value);
}

QString yesNo(bool yes)
{
    return yes ? QStringLiteral("Yes") : QStringLiteral("No");
}

void identitySection(Page &page, const ProductInfo &id)
{
    page.heading(QStringLiteral("Unit"));
    page.beginTable();
    page.row(QStringLiteral("Product"), firmwareLabel(id.productCode, id.firmware));
    settingRows(page, IdentityRows, id);
    page.endTable();
}

void networkSection(Page &page, const NetworkConfig &n)
{
    page.heading(QStringLiteral("Network"));
    page.beginTable();
    settingRows(page, NetworkRows, n);
    page.endTable();
}

void g50Section(Page &page, const Octets4 &g50)
{
    page.heading(QStringLiteral("G50"));
    page.beginTable();
    settingRows(page, G50Rows, g50);
    page.endTable();
}

void bacnetSection(Page &page, const BACnetSettings &b)
{
    page.heading(QStringLiteral("BACnet"));
    page.beginTable();
    settingRows(page, BACnetRows, b);
    page.endTable();
}

void statusSection(Page &page, const StatusBlock &s)
{
    page.heading(QStringLiteral("Live status"));
    page.beginTable();
    page.row(QStringLiteral("G50 link"), g50LinkText(s));
    page.row(QStringLiteral("Mnet"), mnetText(s));
    for (int bit = 0; bit < 5; ++bit)
        page.row(QLatin1String(G50ProcessCaptions[std::size_t(bit)]),
                 yesNo(s.G50ProcessFlags & (1u << bit)));
    for (int bit = 0; bit < 5; ++bit)
        page.row(QLatin1String(BACnetProcessCaptions[std::size_t(bit)]),
                 yesNo(s.BACnetProcessFlags & (1u << bit)));
    page.row(QStringLiteral("G50 poll state"), QString::number(s.G50PollProgress >> 8));
    page.row(QStringLiteral("G50 group being polled"), QString::number(s.G50PollProgress & 0xFF));
    settingRow(page, NicRevisionRow, s);
    settingRow(page, RxPendingRow, s);
    page.row(QStringLiteral("Receive buffer usage"),
             QStringLiteral("%1%").arg(receiveBufferUsage(s.RxWritePos, s.RxBoundary)));
    if (s.TxBufferCount == 0) {
        page.row(QStringLiteral("Transmit buffers"), QStringLiteral("Information Not Available"));
    } else {
        QStringList states;
        const int shown = std::min<int>(s.TxBufferCount, MaxTxBuffers);
        for (int i = 0; i < shown; ++i)
            states << (s.TxBufferState[std::size_t(i)] ? QStringLiteral("busy")
                                                       : QStringLiteral("free"));
        page.row(QStringLiteral("Transmit buffers"),
                 QStringLiteral("%1: %2").arg(s.TxBufferCount).arg(states.join(QLatin1Char(' '))));
    }
    for (int sw = 1; sw <= 2; ++sw)
        page.row(QStringLiteral("Bank A switch %1").arg(sw),
                 switchStateText(s, sw) + QLatin1Char('\n') + switchMeaning(s, sw));
    page.endTable();
}

// Printed, the names stand in NameColumns pairs of columns, read down each
// pair: 34 rows instead of 100, so the table fits a page. The title is the
// table's first header row, repeated on a following page, so it never stays
// behind alone at the foot of a page.
constexpr int NameColumns = 3;

void namesSection(Page &page, const ObjectNameList &names)
{
    const bool print = page.medium() == ReportMedium::Print;
    const int columns = print ? NameColumns : 1;
    const int rows = (ObjectNameCount + columns - 1) / columns;
    if (!print)
        page.heading(QStringLiteral("Object names"));
    page.beginTable(QStringLiteral("names"));
    page.raw(QStringLiteral("<thead>"));
    if (print)
        page.raw(QStringLiteral("<tr><th class=\"title\" colspan=\"%1\">Object names</th></tr>")
                     .arg(2 * columns));
    page.raw(QStringLiteral("<tr>"));
    for (int c = 0; c < columns; ++c)
        page.raw(QStringLiteral("<th>Address</th><th>Name</th>"));
    page.raw(QStringLiteral("</tr></thead>\n"));
    for (int r = 0; r < rows; ++r) {
        page.raw(QStringLiteral("<tr>"));
        for (int c = 0; c < columns; ++c) {
            const int n = c * rows + r + 1;
            if (n > ObjectNameCount)
                page.raw(QStringLiteral("<td></td><td></td>"));
            else
                page.raw(QStringLiteral("<td>%1</td><td>%2</td>")
                             .arg(octetText(n), escaped(printableName(names[std::size_t(n - 1)]))));
        }
        page.raw(QStringLiteral("</tr>\n"));
    }
    page.endTable();
}

// The engineer's lines at the end: name (blank to be written in), the date
// and room for a signature.
void signOffSection(Page &page, const UnitReport &report)
{
    page.heading(QStringLiteral("Sign-off"));
    page.beginTable(QStringLiteral("signoff"));
    page.row(QStringLiteral("Engineer"), report.engineer);
    page.row(QStringLiteral("Date"), report.madeAt.toLocalTime().date().toString(Qt::ISODate));
    // Lines of a no-break space, not empty lines: the layout keeps a row
    // of them together on one page.
    page.row(QStringLiteral("Signature"), QStringLiteral("\u00A0\n\u00A0\n\u00A0\n\u00A0"));
    page.endTable();
}

} // namespace

QString printableName(const QByteArray &name)
{
    QString text;
    for (const char byte : name) {
        const auto b = static_cast<unsigned char>(byte);
        if (b < 0x20 || (b >= 0x7F && b < 0xA0))
            text += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        else
            text += QChar(b);
    }
    return text;
}

QString unitReportHtml(const UnitReport &report, ReportMedium medium)
{
    const UnitConfig &c = report.config;
    Page page(medium);
    page.beginTable();
    if (!report.site.isEmpty())
        page.row(QStringLiteral("Site"), report.site);
    page.row(QStringLiteral("Unit reached at"), report.unitAddress);
    page.row(QStringLiteral("Report made"),
             report.madeAt.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")));
    page.row(QStringLiteral("Made with"), report.toolName + QLatin1Char(' ') + report.toolVersion);
    if (!report.engineer.isEmpty())
        page.row(QStringLiteral("Engineer"), report.engineer);
    if (!report.notes.isEmpty())
        page.row(QStringLiteral("Notes"), report.notes);
    page.endTable();
    if (c.identity)
        identitySection(page, *c.identity);
    if (c.network)
        networkSection(page, *c.network);
    if (c.g50)
        g50Section(page, *c.g50);
    if (c.bacnet)
        bacnetSection(page, *c.bacnet);
    if (report.status)
        statusSection(page, *report.status);
    if (c.objectNames)
        namesSection(page, *c.objectNames);
    signOffSection(page, report);

    const QString title =
        c.bacnet ? QStringLiteral("Commissioning report: %1").arg(printableName(c.bacnet->name))
                 : QStringLiteral("Commissioning report");
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                          "<title>%1</title>\n<style>\n%2</style>\n</head>\n<body>\n<h1>%1</h1>\n"
                          "%3</body>\n</html>\n")
        .arg(escaped(title),
             QLatin1String(Style) +
                 (medium == ReportMedium::Print ? QLatin1String(PrintStyle) : QLatin1String()),
             page.html());
}

QString reportFileName(std::optional<std::uint32_t> instance, const QDate &date,
                       const QString &suffix)
{
    const QString day = date.toString(Qt::ISODate);
    return instance ? QStringLiteral("ravelin-%1-%2.%3").arg(*instance).arg(day, suffix)
                    : QStringLiteral("ravelin-%1.%2").arg(day, suffix);
}
