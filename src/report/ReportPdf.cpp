#include "ReportPdf.h"

#include "SaveFile.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

bool writeReportPdf(const QString &path, const QString &html, const QString &creator,
                    QString *reason)
{
    if (!checkWriteTarget(path, reason))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Commissioning report"));
        writer.setCreator(creator);
        QTextDocument document;
        document.setHtml(html);
        document.print(&writer);
    } // the writer finishes the file when it goes
    if (file.commit())
        return true;
    *reason = file.errorString();
    return false;
}
