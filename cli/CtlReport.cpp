// ravelinctl report FILE.html|FILE.pdf: the commissioning report of one unit.

#include "CtlFiles.h"

#include "Codecs.h"
#include "ConfigTransfer.h"
#include "ReportPdf.h"
#include "SaveFile.h"
#include "UnitReport.h"

#include <QDateTime>
#include <QGuiApplication>

#include <cstring>

using namespace CtlFiles;

namespace {

enum class ReportKind
{
    Html,
    Pdf
};

// What the engineer adds to the report from the command line.
struct ReportFields
{
    QString site;
    QString engineer;
    QString notes;
};

CtlOutput report(CtlSession &session, const QString &path, ReportKind kind,
                 const ReportFields &fields, const FileCommandContext &context)
{
    CtlOutput out;
    if (!checkRavelin(session.access(), context, out))
        return out;
    UnitReport report;
    int nameNumber = 0;
    OpResult op = readUnitConfig(session.access(), report.config,
                                 [&nameNumber](const QString &, int n) { nameNumber = n; });
    StatusBlock status;
    if (op.ok())
        op = readStatusBlock(session.access(), status);
    if (!op.ok()) {
        failAt(op, nameNumber, out);
        return out;
    }
    report.status = status;
    report.unitAddress = context.unitAddress;
    report.toolName = QStringLiteral("ravelinctl");
    report.toolVersion = toolVersion();
    report.madeAt = QDateTime::currentDateTimeUtc();
    report.site = fields.site;
    report.engineer = fields.engineer;
    report.notes = fields.notes;
    QString error;
    const bool written =
        kind == ReportKind::Html
            ? writeFileAtomically(path, unitReportHtml(report).toUtf8(), &error)
            : writeReportPdf(path, unitReportHtml(report, ReportMedium::Print),
                             QStringLiteral("ravelinctl %1").arg(toolVersion()), &error);
    if (!written) {
        error = QStringLiteral("cannot write %1: %2").arg(path, error);
        out.exitCode = ExitFailure;
        out.lines << error;
        out.json.insert(QStringLiteral("error"), error);
        return out;
    }
    const ProductInfo &id = *report.config.identity;
    out.lines << QStringLiteral("wrote the report of %1 (MAC %2) to %3")
                     .arg(firmwareLabel(id.productCode, id.firmware), macLabel(id.mac.data()),
                          path);
    out.json.insert(QStringLiteral("file"), path);
    return out;
}

} // namespace

namespace {

QtMessageHandler qtHandler = nullptr;

// The PDF writer needs no runtime folder; Qt's warning that the variable
// naming one is unset (as for root in a plain shell) would only alarm.
void withoutRuntimeDirWarning(QtMsgType type, const QMessageLogContext &context,
                              const QString &text)
{
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (qtHandler)
        qtHandler(type, context, text);
}

} // namespace

std::unique_ptr<QCoreApplication> makeCtlApplication(int &argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "report") == 0) {
            // Never a window: the offscreen platform needs no display.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qtHandler = qInstallMessageHandler(withoutRuntimeDirWarning);
            return std::make_unique<QGuiApplication>(argc, argv);
        }
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::function<CtlOutput(CtlSession &)> prepareReport(const QStringList &arguments,
                                                     const FileCommandContext &context)
{
    ReportFields fields;
    QStringList files;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments[i];
        QString *field = word == QLatin1String("--site")       ? &fields.site
                         : word == QLatin1String("--engineer") ? &fields.engineer
                         : word == QLatin1String("--notes")    ? &fields.notes
                                                               : nullptr;
        if (!field) {
            if (word.startsWith(QLatin1String("--")))
                usageError(QStringLiteral("report takes --site, --engineer and --notes, not "
                                          "\"%1\"")
                               .arg(word));
            files << word;
            continue;
        }
        if (i + 1 >= arguments.size())
            usageError(QStringLiteral("%1 needs a value (%1 TEXT)").arg(word));
        // "\n" in the text starts a new line, so notes can span lines.
        *field = arguments[++i];
        field->replace(QLatin1String("\\n"), QLatin1String("\n"));
    }
    if (files.size() != 1)
        usageError(QStringLiteral("report takes one file, FILE.html or FILE.pdf"));
    const QString path = files[0];
    const QString suffix = path.section(QLatin1Char('.'), -1).toLower();
    ReportKind kind = ReportKind::Html;
    if (suffix == QLatin1String("pdf"))
        kind = ReportKind::Pdf;
    else if (suffix != QLatin1String("html") && suffix != QLatin1String("htm"))
        usageError(QStringLiteral("report writes FILE.html or FILE.pdf, not \"%1\"").arg(path));
    if (kind == ReportKind::Pdf && !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        usageError(QStringLiteral("a PDF report needs the report command on the command line"));
    return [path, kind, fields, context](CtlSession &s) {
        return report(s, path, kind, fields, context);
    };
}
