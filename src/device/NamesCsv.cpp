#include "NamesCsv.h"

#include "Codecs.h"

#include <QStringDecoder>

namespace {

constexpr int MaxFaultsListed = 20;

// Keeps the faults of one file: every one is counted, the first few listed.
class Faults
{
public:
    void add(int line, const QString &text)
    {
        ++m_count;
        if (m_list.size() < MaxFaultsListed)
            m_list << (line > 0 ? QStringLiteral("line %1: %2").arg(line).arg(text) : text);
    }
    bool any() const { return m_count > 0; }
    QStringList list() const
    {
        QStringList all = m_list;
        if (m_count > m_list.size())
            all << QStringLiteral("... and %1 more").arg(m_count - m_list.size());
        return all;
    }

private:
    QStringList m_list;
    int m_count = 0;
};

// The text of the file, with a fault for every line that is not UTF-8.
QString decodeLines(const QByteArray &bytes, Faults &faults)
{
    QString text;
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = decoder(lines[i]);
        if (decoder.hasError())
            faults.add(i + 1, QStringLiteral("not UTF-8 text"));
        text += line;
        if (i + 1 < lines.size())
            text += QLatin1Char('\n');
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// The header decides the separator: a semicolon when it has one and no comma.
QChar separatorOf(const QString &text)
{
    const QString first = text.left(text.indexOf(QLatin1Char('\n')));
    return first.contains(QLatin1Char(';')) && !first.contains(QLatin1Char(',')) ? QLatin1Char(';')
                                                                                 : QLatin1Char(',');
}

bool isBlank(const CsvRow &row)
{
    return row.fault.isEmpty() && row.fields.size() == 1 && row.fields[0].trimmed().isEmpty();
}

// An address column entry: 1 to 100, leading zeros allowed ("007").
std::optional<int> addressOf(const QString &field)
{
    const QString text = field.trimmed();
    if (text.isEmpty() || text.size() > 3)
        return std::nullopt;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const int n = text.toInt();
    if (n < 1 || n > ObjectNameCount)
        return std::nullopt;
    return n;
}

QString withoutLatin1(const QString &name)
{
    QString found;
    for (const QChar c : name)
        if (c.unicode() > 0xFF && !found.contains(c))
            found += c;
    return found;
}

// Which column holds what, from the header row.
struct Columns
{
    int address = -1;
    int name = -1;
};

std::optional<Columns> headerColumns(const CsvRow &row)
{
    if (!row.fault.isEmpty() || row.fields.size() != 2)
        return std::nullopt;
    Columns c;
    for (int i = 0; i < 2; ++i) {
        const QString title = row.fields[i].trimmed().toLower();
        if (title == QLatin1String("address"))
            c.address = i;
        else if (title == QLatin1String("name"))
            c.name = i;
    }
    if (c.address < 0 || c.name < 0)
        return std::nullopt;
    return c;
}

void readRow(const CsvRow &row, const Columns &columns, NameUpdates &updates,
             std::map<int, int> &lineOfAddress, Faults &faults)
{
    if (!row.fault.isEmpty()) {
        faults.add(row.line, row.fault);
        return;
    }
    if (row.fields.size() != 2) {
        faults.add(row.line, QStringLiteral("expected 2 fields (address and name), found %1")
                                 .arg(row.fields.size()));
        return;
    }
    const std::optional<int> address = addressOf(row.fields[columns.address]);
    if (!address) {
        faults.add(row.line,
                   QStringLiteral("address \"%1\" is not a number from 1 to %2")
                       .arg(row.fields[columns.address], QString::number(ObjectNameCount)));
        return;
    }
    const QString name = withoutFormulaGuard(row.fields[columns.name]);
    if (const auto earlier = lineOfAddress.find(*address); earlier != lineOfAddress.end()) {
        faults.add(
            row.line,
            QStringLiteral("address %1 is also on line %2").arg(*address).arg(earlier->second));
        return;
    }
    lineOfAddress[*address] = row.line;
    if (name.size() > MaxObjectNameLength) {
        faults.add(row.line, QStringLiteral("the name of address %1 has %2 characters, at most %3")
                                 .arg(*address)
                                 .arg(name.size())
                                 .arg(MaxObjectNameLength));
        return;
    }
    const std::optional<QByteArray> bytes = nameBytes(name);
    if (!bytes) {
        faults.add(row.line, QStringLiteral("the name of address %1 holds \"%2\", which the unit "
                                            "cannot store (names take Latin-1 characters only)")
                                 .arg(*address)
                                 .arg(withoutLatin1(name)));
        return;
    }
    updates[*address] = *bytes;
}

} // namespace

bool formulaLike(QStringView text)
{
    if (text.isEmpty())
        return false;
    static const QString triggers = QStringLiteral("=+-@\t\r");
    return triggers.contains(text.front()) ||
           (text.front() == QLatin1Char('\'') && formulaLike(text.mid(1)));
}

QString withoutFormulaGuard(const QString &cell)
{
    return cell.startsWith(QLatin1Char('\'')) && formulaLike(QStringView(cell).mid(1)) ? cell.mid(1)
                                                                                       : cell;
}

QString csvField(const QString &cell)
{
    const QString text = formulaLike(cell) ? QLatin1Char('\'') + cell : cell;
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char(';')) ||
                       text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')) ||
                       text.contains(QLatin1Char('\r')) ||
                       (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QByteArray namesToCsv(const ObjectNameList &names)
{
    NameUpdates all;
    for (int n = 1; n <= ObjectNameCount; ++n)
        all.emplace(n, names[std::size_t(n - 1)]);
    return namesToCsv(all);
}

QByteArray namesToCsv(const NameUpdates &names)
{
    QString text = QStringLiteral("address,name\r\n");
    for (const auto &[n, name] : names)
        text += QStringLiteral("%1,%2\r\n").arg(n).arg(csvField(nameText(name)));
    return text.toUtf8();
}

std::vector<CsvRow> splitCsv(const QString &text, QChar separator)
{
    std::vector<CsvRow> rows;
    CsvRow row;
    QString field;
    bool inQuotes = false;
    bool afterQuote = false; // a quoted field has closed; only a separator or line end may follow
    int line = 1;
    row.line = 1;
    const auto fault = [&row](const QString &why) {
        if (row.fault.isEmpty())
            row.fault = why;
    };
    const auto endRow = [&](int nextLine) {
        row.fields << field;
        field.clear();
        if (!isBlank(row))
            rows.push_back(row);
        row = CsvRow{};
        row.line = nextLine;
        afterQuote = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool lineEnd = c == QLatin1Char('\n') || c == QLatin1Char('\r');
        const bool crlf =
            c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n');
        if (crlf && !inQuotes)
            continue; // CRLF ends the line at its LF; inside quotes it is kept
        if (inQuotes) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                inQuotes = false;
                afterQuote = true;
            } else {
                line += lineEnd && !crlf ? 1 : 0;
                field += c;
            }
        } else if (lineEnd) {
            endRow(++line);
        } else if (c == separator) {
            row.fields << field;
            field.clear();
            afterQuote = false;
        } else if (c == QLatin1Char('"') && field.isEmpty() && !afterQuote) {
            inQuotes = true;
        } else {
            if (afterQuote)
                fault(QStringLiteral("text after a closing quote"));
            else if (c == QLatin1Char('"'))
                fault(QStringLiteral("a quote inside an unquoted field"));
            field += c;
        }
    }
    if (inQuotes)
        fault(QStringLiteral("a quote is left open"));
    endRow(line);
    return rows;
}

std::optional<NameUpdates> parseNamesCsv(const QByteArray &bytes, QStringList *faultList)
{
    Faults faults;
    const auto refused = [&faults, faultList]() -> std::optional<NameUpdates> {
        if (faultList)
            *faultList = faults.list();
        return std::nullopt;
    };
    if (bytes.size() > MaxNamesCsvSize) {
        faults.add(0, QStringLiteral("the file is larger than %1 bytes; a names file is a few "
                                     "kilobytes")
                          .arg(MaxNamesCsvSize));
        return refused();
    }
    const QString text = decodeLines(bytes, faults);
    const std::vector<CsvRow> rows = splitCsv(text, separatorOf(text));
    const std::optional<Columns> columns =
        rows.empty() ? std::nullopt : headerColumns(rows.front());
    if (!columns) {
        faults.add(rows.empty() ? 1 : rows.front().line,
                   QStringLiteral("the first row must be the header address,name"));
        return refused();
    }
    NameUpdates updates;
    std::map<int, int> lineOfAddress;
    for (std::size_t i = 1; i < rows.size(); ++i)
        readRow(rows[i], *columns, updates, lineOfAddress, faults);
    if (!faults.any() && updates.empty())
        faults.add(rows.front().line, QStringLiteral("the file holds no names after its header"));
    if (faults.any())
        return refused();
    return updates;
}

ObjectNameList withNameUpdates(ObjectNameList names, const NameUpdates &updates)
{
    for (const auto &[address, name] : updates)
        names[std::size_t(address - 1)] = name;
    return names;
}
