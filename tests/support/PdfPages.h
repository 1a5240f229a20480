#pragma once

// A PDF as the reader sees it: every page rendered to a picture with
// pdftoppm and its text taken with pdftotext (Debian's poppler-utils, which
// scripts/setup-deps installs). Without the tools a test skips on a
// developer's machine and fails under CI, where a missing tool must never
// pass unnoticed.

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "WineLimits.h"

namespace PdfPages {

// The tool's path; empty after a skip or a failure has been recorded.
inline QString tool(const char *name)
{
    const QString path = QStandardPaths::findExecutable(QLatin1String(name));
    if (!path.isEmpty())
        return path;
    if (runningUnderWine()) {
        const QByteArray why = QByteArray("Debian's ") + name +
                               " cannot be started by a Windows program under Wine";
        QTest::qSkip(why.constData(), __FILE__, __LINE__);
        return {};
    }
    const QByteArray why = QByteArray(name) + " is missing (Debian: poppler-utils)";
    if (qEnvironmentVariableIsSet("CI"))
        QTest::qFail(why.constData(), __FILE__, __LINE__);
    else
        QTest::qSkip(why.constData(), __FILE__, __LINE__);
    return {};
}

inline bool run(const QString &program, const QStringList &arguments, QByteArray *out = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return false;
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

// Every page at `dpi`, in order; empty when pdftoppm failed.
inline QList<QImage> render(const QString &pdftoppm, const QString &pdf, int dpi)
{
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("page"));
    if (!run(pdftoppm,
             {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), pdf, prefix}))
        return {};
    QList<QImage> pages;
    QStringList files =
        QDir(dir.path()).entryList({QStringLiteral("page*.png")}, QDir::Files, QDir::Name);
    for (const QString &file : files)
        pages << QImage(dir.filePath(file));
    return pages;
}

// Dark pixels within `bandMm` of the page's edges: ink where only margin
// should be means something ran over the printable area.
inline int inkInMargins(const QImage &page, int dpi, double bandMm)
{
    const int band = int(bandMm / 25.4 * dpi);
    int ink = 0;
    for (int y = 0; y < page.height(); ++y) {
        const bool edgeRow = y < band || y >= page.height() - band;
        for (int x = 0; x < page.width(); ++x) {
            if (!edgeRow && x >= band && x < page.width() - band)
                continue;
            ink += qGray(page.pixel(x, y)) < 128;
        }
    }
    return ink;
}

// The text of page `page` (from 1), ligatures ("ff" drawn as one glyph)
// spelt out.
inline QString text(const QString &pdftotext, const QString &pdf, int page)
{
    QByteArray out;
    const QString n = QString::number(page);
    if (!run(pdftotext,
             {QStringLiteral("-f"), n, QStringLiteral("-l"), n, pdf, QStringLiteral("-")}, &out))
        return {};
    return QString::fromUtf8(out).normalized(QString::NormalizationForm_KC);
}

} // namespace PdfPages
