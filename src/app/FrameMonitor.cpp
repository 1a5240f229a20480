#include "FrameMonitor.h"

#include "Appearance.h"
#include "FrameFormat.h"
#include "RegisterAccess.h"
#include "SaveFile.h"
#include "UiSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
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
    m_keys.erase(m_keys.begin(), m_keys.begin() + drop);
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
    // Every record passes the key maker, so a reply finds its request.
    for (std::size_t i = 0; i < records.size(); ++i) {
        const FrameExchangeKey key = m_keyMaker.next(records[i]);
        if (i >= skip)
            m_keys.push_back(key);
    }
    std::move(records.begin() + long(skip), records.end(), std::back_inserter(m_rows));
    endInsertRows();
}

void FrameTableModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_keys.clear();
    endResetModel();
}

void FrameTableModel::setCapacity(std::size_t capacity)
{
    m_capacity = std::max<std::size_t>(1, capacity);
    trimTo(m_capacity);
}

void FrameOutcomeFilter::setOutcome(int outcome)
{
    m_settings.outcome = outcome;
    invalidateFilter();
}

void FrameOutcomeFilter::setSettings(const FrameFilterSettings &settings)
{
    m_settings = settings;
    invalidateFilter();
}

bool FrameOutcomeFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const auto *model = static_cast<const FrameTableModel *>(sourceModel());
    return frameRowShown(model->record(sourceRow), model->exchangeKey(sourceRow), m_settings);
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

void FrameMonitor::buildFilterBar(QHBoxLayout *bar)
{
    // -1 shows as "any": every unit id and function code is a filter value.
    const auto anyBox = [this, bar](const char *name, const QString &label, int max) {
        bar->addWidget(new QLabel(label, this));
        auto *box = new QSpinBox(this);
        box->setObjectName(QLatin1String(name));
        box->setRange(-1, max);
        box->setValue(-1);
        box->setSpecialValueText(QStringLiteral("any"));
        connect(box, &QSpinBox::valueChanged, this, &FrameMonitor::applyFilters);
        bar->addWidget(box);
        return box;
    };
    m_unitBox = anyBox("UnitFilter", QStringLiteral("Unit:"), 255);
    m_functionBox = anyBox("FunctionFilter", QStringLiteral("Fn:"), 127);
    bar->addWidget(new QLabel(QStringLiteral("Dir:"), this));
    m_directionBox = new QComboBox(this);
    m_directionBox->setObjectName(QStringLiteral("DirectionFilter"));
    m_directionBox->addItem(QStringLiteral("all"), -1);
    for (FrameDirection d : {FrameDirection::Tx, FrameDirection::Rx, FrameDirection::Discarded})
        m_directionBox->addItem(QLatin1String(frameDirectionToken(d)), int(d));
    connect(m_directionBox, &QComboBox::currentIndexChanged, this, &FrameMonitor::applyFilters);
    bar->addWidget(m_directionBox);
    m_hidePolls = new QCheckBox(QStringLiteral("&Hide status polls"), this);
    m_hidePolls->setObjectName(QStringLiteral("HideStatusPolls"));
    m_hidePolls->setFocusPolicy(Qt::NoFocus);
    connect(m_hidePolls, &QCheckBox::toggled, this, &FrameMonitor::applyFilters);
    bar->addWidget(m_hidePolls);
    bar->addStretch();
}

void FrameMonitor::applyFilters()
{
    FrameFilterSettings settings = m_filter.settings();
    settings.unit = m_unitBox->value();
    settings.function = m_functionBox->value();
    const int direction = m_directionBox->currentData().toInt();
    settings.direction =
        direction < 0 ? std::nullopt : std::optional<FrameDirection>(FrameDirection(direction));
    settings.hideStatusPolls = m_hidePolls->isChecked();
    m_filter.setSettings(settings);
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
    m_record = button("RecordButton", QStringLiteral("&Record to File..."));
    m_record->setCheckable(true);
    connect(m_record, &QPushButton::clicked, this, &FrameMonitor::recordWithDialog);

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
    auto *filters = new QHBoxLayout;
    layout->addLayout(filters);
    buildFilterBar(filters);

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
    // Columns start as wide as their titles and grow with what they show;
    // the bytes, the widest, scroll sideways rather than being cut.
    m_view->horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < FrameTableModel::ColumnCount; ++c)
        m_view->setColumnWidth(c, m_view->horizontalHeader()->sectionSizeHint(c));
    auto *copy = new QAction(m_view);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &FrameMonitor::copySelection);
    m_view->addAction(copy);
    layout->addWidget(m_view);
}

bool FrameMonitor::listening() const
{
    return m_access.frameTap() == &m_taps;
}

void FrameMonitor::showEvent(QShowEvent *event)
{
    updateTap();
    QWidget::showEvent(event);
}

void FrameMonitor::hideEvent(QHideEvent *event)
{
    refresh();
    QWidget::hideEvent(event);
    // Nobody looks and nothing records: the exchanges go back to recording
    // nothing.
    updateTap();
}

void FrameMonitor::updateTap()
{
    const bool wanted = isVisible() || m_recorder.recording();
    if (wanted) {
        m_access.setFrameTap(&m_taps);
        if (!m_timer.isActive())
            m_timer.start();
    } else {
        if (listening())
            m_access.setFrameTap(nullptr);
        m_timer.stop();
    }
}

bool FrameMonitor::startRecording(const QString &path, SaveFormat format, QString *error,
                                  qint64 limit)
{
    const bool started =
        m_recorder.start(path,
                         format == SaveFormat::Csv ? FrameFileRecorder::Format::Csv
                                                   : FrameFileRecorder::Format::Text,
                         limit, error);
    m_record->setChecked(started);
    updateTap();
    updateStatus();
    return started;
}

void FrameMonitor::stopRecording()
{
    m_recorder.stop();
    m_record->setChecked(false);
    updateTap();
    updateStatus();
}

void FrameMonitor::checkRecording()
{
    const QString reason = m_recorder.stopReason();
    if (reason.isEmpty())
        return;
    const std::uint64_t leftOut = m_recorder.framesLeftOut();
    stopRecording();
    BeepMessageDlg(QStringLiteral("%1\r%2 frames were not recorded.").arg(reason).arg(leftOut),
                   MsgKind::Warning, MsgButtons::Ok);
}

void FrameMonitor::recordWithDialog(bool start)
{
    if (!start) {
        stopRecording();
        return;
    }
    QString filter;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Record Frames To"), QString(),
        QStringLiteral("Text, one line per frame (*.txt);;CSV (*.csv)"), &filter,
        QFileDialog::DontConfirmOverwrite); // a recording appends
    const bool csv = filter.contains(QLatin1String("csv")) ||
                     path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    QString error;
    if (path.isEmpty())
        m_record->setChecked(false);
    else if (!startRecording(path, csv ? SaveFormat::Csv : SaveFormat::Text, &error))
        BeepMessageDlg(QStringLiteral("Could not record to %1:\r%2").arg(path, error),
                       MsgKind::Error, MsgButtons::Ok);
}

void FrameMonitor::fitColumns(int first, int last)
{
    const QFontMetrics metrics = m_view->fontMetrics();
    for (int c = 0; c < FrameTableModel::ColumnCount; ++c) {
        int &chars = m_columnChars[c];
        QString widest;
        for (int row = first; row <= last; ++row) {
            const QString text = m_model.index(row, c).data().toString();
            if (text.size() > chars) {
                chars = int(text.size());
                widest = text;
            }
        }
        if (widest.isEmpty())
            continue;
        // Room for the cell's margins on either side of the text.
        const int width = metrics.horizontalAdvance(widest) + 2 * metrics.averageCharWidth();
        if (width > m_view->columnWidth(c))
            m_view->setColumnWidth(c, width);
    }
}

void FrameMonitor::refresh()
{
    if (m_paused) {
        checkRecording();
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
        // The oldest rows may have made room: the new ones are at the end.
        const int added = std::min<int>(m_model.rowCount(), int(m_incoming.size()));
        fitColumns(m_model.rowCount() - added, m_model.rowCount() - 1);
        if (following)
            m_view->scrollToBottom();
    }
    checkRecording();
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
    if (m_recorder.recording())
        text += QStringLiteral(", recording (%1 kB)").arg(m_recorder.fileSize() / 1024);
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
