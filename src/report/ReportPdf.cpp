#include "ReportPdf.h"

#include "SaveFile.h"

#include <QAbstractTextDocumentLayout>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <cmath>
#include <limits>
#include <utility>

namespace {

// The layout's own unit: points at 96 per inch, as a text document counts
// when it has no paint device.
constexpr qreal LayoutDpi = 96.0;

// The page a top or a bottom edge is on. The layout's fixed-point positions
// put the top of a page a fraction below its exact place: a pixel's slack.
int pageOfTop(qreal y, qreal pageHeight)
{
    return int(std::floor((y + 1) / pageHeight));
}

int pageOfBottom(qreal y, qreal pageHeight)
{
    return int(std::floor((y - 1) / pageHeight));
}

// Where a row's content starts and ends on the laid-out pages.
std::pair<qreal, qreal> rowExtent(QTextDocument &document, QTextTable *table, int row)
{
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    qreal top = std::numeric_limits<qreal>::max();
    qreal bottom = 0;
    for (int c = 0; c < table->columns(); ++c) {
        const QTextTableCell cell = table->cellAt(row, c);
        const QRectF first = layout->blockBoundingRect(cell.firstCursorPosition().block());
        const QRectF last = layout->blockBoundingRect(cell.lastCursorPosition().block());
        top = std::min(top, first.top());
        bottom = std::max(bottom, last.bottom());
    }
    return {top, bottom};
}

// Starts the block at `position` on a new page, or the page after it.
void setBreak(QTextDocument &document, int position, QTextFormat::PageBreakFlag flag)
{
    QTextCursor cursor(&document);
    cursor.setPosition(position);
    QTextBlockFormat format;
    format.setPageBreakPolicy(flag);
    cursor.mergeBlockFormat(format);
}

// Moves row `row` of `table` to the next page. A break before a cell's
// content would apply again once the layout drops the row to that page, so
// the break goes after the row above it (the first row of a table moves
// with the heading above it, or with the table).
void moveRowToNextPage(QTextDocument &document, QTextTable *table, int row,
                       const QTextBlock &heading)
{
    if (row > table->format().headerRowCount()) {
        for (int c = 0; c < table->columns(); ++c)
            setBreak(document, table->cellAt(row - 1, c).lastPosition(),
                     QTextFormat::PageBreak_AlwaysAfter);
    } else if (heading.isValid()) {
        setBreak(document, heading.position(), QTextFormat::PageBreak_AlwaysBefore);
    } else {
        QTextTableFormat format = table->format();
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        table->setFormat(format);
    }
}

// The first row of a table, or a heading and the table it heads, that the
// layout would split across two pages; false when there is none. That row
// (or the heading) then moves to the next page. The layout itself moves a
// row only when all its cells start past the page's end.
bool breakFirstSplitRow(QTextDocument &document, qreal pageHeight)
{
    QAbstractTextDocumentLayout *layout = document.documentLayout();
    for (QTextFrame *frame : document.rootFrame()->childFrames()) {
        auto *table = qobject_cast<QTextTable *>(frame);
        if (!table)
            continue;
        // The heading is the text block just before the table, outside any
        // other table; the title heads the whole page, not the table.
        QTextBlock heading = document.findBlock(table->firstPosition() - 1);
        if (heading.isValid() && (heading.text().isEmpty() || heading.position() == 0 ||
                                  QTextCursor(heading).currentTable()))
            heading = {};
        const qreal tableTop = rowExtent(document, table, 0).first;
        if (heading.isValid() &&
            heading.blockFormat().pageBreakPolicy() == QTextFormat::PageBreak_Auto &&
            pageOfTop(layout->blockBoundingRect(heading).top(), pageHeight) !=
                pageOfTop(tableTop, pageHeight)) {
            setBreak(document, heading.position(), QTextFormat::PageBreak_AlwaysBefore);
            return true;
        }
        for (int r = table->format().headerRowCount(); r < table->rows(); ++r) {
            const auto [top, bottom] = rowExtent(document, table, r);
            if (pageOfTop(top, pageHeight) == pageOfBottom(bottom, pageHeight) ||
                bottom - top >= pageHeight * 0.9)
                continue; // on one page, or too tall for any
            moveRowToNextPage(document, table, r, heading);
            return true;
        }
    }
    return false;
}

// Lays the page out on the writer's printable area exactly: the margins are
// the writer's alone (a document printed without a page size would add two
// centimetres of its own on every side and page numbers below). Words too
// long for a cell break anywhere rather than run over its edge.
void printTo(QPdfWriter &writer, const QString &html)
{
    QTextDocument document;
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
    document.setDocumentMargin(0);
    document.setHtml(html);
    const QSizeF area = writer.pageLayout().paintRect(QPageLayout::Inch).size();
    document.setPageSize(area * LayoutDpi);
    // Each break moves what follows; a few passes settle every page.
    for (int pass = 0; pass < 20 && breakFirstSplitRow(document, document.pageSize().height());
         ++pass) {
        // The layout redoes only part of the page after a format change and
        // then misplaces what follows a table that spans pages: lay it all out
        // again.
        document.markContentsDirty(0, document.characterCount());
    }
    document.print(&writer);
}

} // namespace

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
        printTo(writer, html);
    } // the writer finishes the file when it goes
    if (file.commit())
        return true;
    *reason = file.errorString();
    return false;
}
