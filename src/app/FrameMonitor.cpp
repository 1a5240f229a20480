#include "FrameMonitor.h"

#include "Appearance.h"
#include "FrameFormat.h"
#include "RegisterAccess.h"
#include "SaveFile.h"
#include "UiSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const ColumnTitles[FrameTableModel::ColumnCount] = {
    "Time",  "Link", "#",       "Dir",      "Unit", "Fn",   "Start",
    "Count", "TID",  "Outcome", "RTT (ms)", "Len",  "Bytes"};

QString number(int value)
{
    return value < 0 ? QString() : QString::number(value);
}

QString outcomeText(const FrameRecord &r)
{
    if (r.exceptionCode >= 0)
        return QStringLiteral("%1 %2 (%3)")
            .arg(frameOutcomeLabel(r.outcome))
            .arg(r.exceptionCode)
            .arg(modbusExceptionLabel(r.exceptionCode));
    return frameOutcomeLabel(r.outcome);
}

QString timeText(const FrameRecord &r)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(r.time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

FrameTableModel::FrameTableModel(std::size_t capacity, QObject *parent)
    : QAbstractTableModel(parent), m_capacity(std::max<std::size_t>(1, capacity))
{}

int FrameTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FrameTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

// Dark red, or a lighter red where the rows (plain and alternate) are dark.
// Asked for every painted cell of a failed row: worked out once per palette.
QColor FrameTableModel::failedRowColour()
{
    static qint64 paletteKey = -1;
    static QColor colour;
    const QPalette palette = QGuiApplication::palette();
    if (palette.cacheKey() != paletteKey) {
        paletteKey = palette.cacheKey();
        const QColor base = palette.color(QPalette::Base);
        const QColor alternate = palette.color(QPalette::AlternateBase);
        colour = Appearance::readableOn(Qt::darkRed, Appearance::relativeLuminance(alternate) >
                                                             Appearance::relativeLuminance(base)
                                                         ? alternate
                                                         : base);
    }
    return colour;
}

QVariant FrameTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FrameRecord &r = record(index.row());
    if (role == OutcomeRole)
        return int(r.outcome);
    if (role == Qt::ForegroundRole)
        return r.outcome == FrameOutcome::Good ? QVariant() : QVariant(failedRowColour());
    if (role == Qt::ToolTipRole && index.column() == BytesColumn)
        return QStringLiteral("%1 bytes").arg(r.length);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return timeText(r);
    case LinkColumn:
        return QLatin1String(frameLinkToken(r.link));
    case ExchangeColumn:
        return QString::number(r.exchange);
    case DirectionColumn:
        return QLatin1String(frameDirectionToken(r.direction));
    case UnitColumn:
        return number(r.unit);
    case FunctionColumn:
        return number(r.function);
    case StartColumn:
        return number(r.start);
    case CountColumn:
        return number(r.count);
    case TransactionColumn:
        return number(r.transaction);
    case OutcomeColumn:
        return outcomeText(r);
    case RoundTripColumn:
        return frameRoundTrip(r);
    case LengthColumn:
        return QString::number(r.length);
    case BytesColumn:
        return frameHex(r);
    default:
        return {};
    }
}

QVariant FrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QLatin1String(ColumnTitles[section]);
}

void FrameTableModel::trimTo(std::size_t rows)
{
    if (m_rows.size() <= rows)
        return;
    const int drop = int(m_rows.size() - rows);
    beginRemoveRows({}, 0, drop - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + drop);
    endRemoveRows();
}

void FrameTableModel::append(std::vector<FrameRecord> &records)
{
    if (records.empty())
        return;
    // Of a batch larger than the table, only its newest rows would stay.
    const std::size_t skip = records.size() > m_capacity ? records.size() - m_capacity : 0;
    const std::size_t incoming = records.size() - skip;
    trimTo(m_capacity - incoming);
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(incoming) - 1);
    std::move(records.begin() + long(skip), records.end(), std::back_inserter(m_rows));
    endInsertRows();
}

void FrameTableModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void FrameTableModel::setCapacity(std::size_t capacity)
{
    m_capacity = std::max<std::size_t>(1, capacity);
    trimTo(m_capacity);
}

void FrameOutcomeFilter::setOutcome(int outcome)
{
    m_outcome = outcome;
    invalidateFilter();
}

bool FrameOutcomeFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_outcome == AllFrames)
        return true;
    const int outcome =
        sourceModel()->index(sourceRow, 0, sourceParent).data(FrameTableModel::OutcomeRole).toInt();
    if (m_outcome == AllFailures)
        return outcome != int(FrameOutcome::Good);
    return outcome == m_outcome;
}

FrameMonitor::FrameMonitor(RegisterAccess &access, QWidget *parent)
    : QWidget(parent, Qt::Window), m_access(access), m_model(m_log.capacity())
{
    setObjectName(QStringLiteral("FrameMonitor"));
    setWindowTitle(QStringLiteral("Frame Monitor"));
    // A monitor beside the main window: showing it or a new row never takes
    // the keyboard from where the engineer is typing, and it does not keep
    // the program running once the main window has closed.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_filter.setSourceModel(&m_model);
    buildWindow();
    m_timer.setInterval(RefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &FrameMonitor::refresh);
    resize(960, 420);
    updateStatus();
}

FrameMonitor::~FrameMonitor()
{
    if (listening())
        m_access.setFrameTap(nullptr);
}

void FrameMonitor::buildWindow()
{
    auto *layout = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    layout->addLayout(bar);
    const auto button = [this, bar](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setFocusPolicy(Qt::NoFocus);
        bar->addWidget(b);
        return b;
    };
    m_pause = button("PauseButton", QStringLiteral("&Pause"));
    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, &FrameMonitor::setPaused);
    connect(button("ClearButton", QStringLiteral("C&lear")), &QPushButton::clicked, this,
            &FrameMonitor::clear);
    connect(button("CopyButton", QStringLiteral("&Copy")), &QPushButton::clicked, this,
            &FrameMonitor::copySelection);
    connect(button("SaveButton", QStringLiteral("&Save As...")), &QPushButton::clicked, this,
            &FrameMonitor::saveWithDialog);

    bar->addWidget(new QLabel(QStringLiteral("Show:"), this));
    m_outcomeBox = new QComboBox(this);
    m_outcomeBox->setObjectName(QStringLiteral("OutcomeFilter"));
    m_outcomeBox->addItem(QStringLiteral("All frames"), FrameOutcomeFilter::AllFrames);
    m_outcomeBox->addItem(QStringLiteral("All failures"), FrameOutcomeFilter::AllFailures);
    for (int i = 0; i < FrameOutcomeCount; ++i)
        m_outcomeBox->addItem(frameOutcomeLabel(FrameOutcome(i)), i);
    connect(m_outcomeBox, &QComboBox::currentIndexChanged, this,
            [this] { m_filter.setOutcome(m_outcomeBox->currentData().toInt()); });
    bar->addWidget(m_outcomeBox);

    bar->addWidget(new QLabel(QStringLiteral("Keep:"), this));
    m_capacityBox = new QSpinBox(this);
    m_capacityBox->setObjectName(QStringLiteral("CapacityBox"));
    m_capacityBox->setRange(100, 100000);
    m_capacityBox->setSingleStep(1000);
    m_capacityBox->setValue(int(m_log.capacity()));
    m_capacityBox->setSuffix(QStringLiteral(" frames"));
    connect(m_capacityBox, &QSpinBox::editingFinished, this,
            [this] { setCapacity(std::size_t(m_capacityBox->value())); });
    bar->addWidget(m_capacityBox);
    bar->addStretch();
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("FrameStatus"));
    bar->addWidget(m_status);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("FrameTable"));
    m_view->setModel(&m_filter);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setWordWrap(false);
    m_view->setAlternatingRowColors(true);
    // Fixed row heights keep scrolling through thousands of rows cheap.
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 4);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    const int widths[FrameTableModel::ColumnCount] = {90, 40, 50,  45, 40, 40, 50,
                                                      45, 50, 220, 70, 40, 300};
    for (int c = 0; c < FrameTableModel::ColumnCount; ++c)
        m_view->setColumnWidth(c, widths[c]);
    auto *copy = new QAction(m_view);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &FrameMonitor::copySelection);
    m_view->addAction(copy);
    layout->addWidget(m_view);
}

bool FrameMonitor::listening() const
{
    return m_access.frameTap() == &m_log;
}

void FrameMonitor::showEvent(QShowEvent *event)
{
    m_access.setFrameTap(&m_log);
    m_timer.start();
    QWidget::showEvent(event);
}

void FrameMonitor::hideEvent(QHideEvent *event)
{
    // Nobody looks: the exchanges go back to recording nothing.
    if (listening())
        m_access.setFrameTap(nullptr);
    refresh();
    m_timer.stop();
    QWidget::hideEvent(event);
}

void FrameMonitor::refresh()
{
    if (m_paused) {
        updateStatus(); // how many frames wait for the resume
        return;
    }
    m_incoming.clear();
    m_log.copySince(m_shownUpTo, m_incoming);
    if (!m_incoming.empty()) {
        // Records that were overwritten before the table took them.
        m_lost += m_incoming.front().sequence - m_shownUpTo - 1;
        m_shownUpTo = m_incoming.back().sequence;
        const QScrollBar *bar = m_view->verticalScrollBar();
        const bool following = bar->value() == bar->maximum();
        m_model.append(m_incoming);
        if (following)
            m_view->scrollToBottom();
    }
    updateStatus();
}

void FrameMonitor::setPaused(bool paused)
{
    m_paused = paused;
    if (m_pause->isChecked() != paused)
        m_pause->setChecked(paused);
    m_pause->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    refresh();
    updateStatus();
}

void FrameMonitor::clear()
{
    m_log.clear();
    m_model.clear();
    m_shownUpTo = m_log.lastSequence();
    m_lost = 0;
    updateStatus();
}

void FrameMonitor::setCapacity(std::size_t capacity)
{
    m_log.setCapacity(capacity);
    m_model.setCapacity(m_log.capacity());
    if (m_capacityBox->value() != int(m_log.capacity()))
        m_capacityBox->setValue(int(m_log.capacity()));
    updateStatus();
}

void FrameMonitor::updateStatus()
{
    QString text = QStringLiteral("%1 frames").arg(m_model.rowCount());
    if (m_paused) {
        const std::uint64_t waiting = m_log.lastSequence() - m_shownUpTo;
        text += QStringLiteral(", paused (%1 new)").arg(waiting);
    }
    if (m_lost > 0)
        text += QStringLiteral(", %1 not shown (overwritten while paused)").arg(m_lost);
    m_status->setText(text);
}

bool FrameMonitor::saveTo(const QString &path, SaveFormat format, QString *error) const
{
    if (!checkWriteTarget(path, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const auto line = [&file](const QString &text) {
        file.write(text.toUtf8());
        file.write("\n");
    };
    if (format == SaveFormat::Csv)
        line(frameCsvHeader());
    for (int row = 0; row < m_filter.rowCount(); ++row) {
        const FrameRecord &r = m_model.record(m_filter.mapToSource(m_filter.index(row, 0)).row());
        line(format == SaveFormat::Csv ? frameCsvRow(r) : frameLine(r));
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

void FrameMonitor::saveWithDialog()
{
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save Frames"), QString(),
        QStringLiteral("Text, one line per frame (*.txt);;CSV (*.csv)"), &filter);
    if (path.isEmpty())
        return;
    const bool csv = filter.contains(QLatin1String("csv")) ||
                     path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    QString error;
    if (!saveTo(path, csv ? SaveFormat::Csv : SaveFormat::Text, &error))
        BeepMessageDlg(QStringLiteral("Could not save the frames:\r%1").arg(error), MsgKind::Error,
                       MsgButtons::Ok);
}

QString FrameMonitor::copySelection() const
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex &index : rows)
        lines << frameLine(m_model.record(m_filter.mapToSource(index).row()));
    const QString text = lines.join(QLatin1Char('\n'));
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
    return text;
}
