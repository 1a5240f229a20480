#pragma once

// The Frame Monitor: a non-modal window listing every frame the session's
// transport sends and receives, with the client's verdict on each exchange.
//
// While the window is shown its ring (FrameLog) is the facade's frame tap;
// hidden, it is detached and nothing is recorded. The exchanges only fill the
// ring; a timer moves new records into the table in batches, so a burst of
// exchanges costs one repaint. Pausing freezes the table while the ring goes
// on recording; frames the ring lost meanwhile are counted, not shown.

#include "FrameFilter.h"
#include "FrameLog.h"
#include "FrameRecording.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QWidget>

#include <deque>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class RegisterAccess;

// The monitor's rows: the newest `capacity` records, oldest first.
class FrameTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        TimeColumn,
        LinkColumn,
        ExchangeColumn,
        DirectionColumn,
        UnitColumn,
        FunctionColumn,
        StartColumn,
        CountColumn,
        TransactionColumn,
        OutcomeColumn,
        RoundTripColumn,
        LengthColumn,
        BytesColumn,
        ColumnCount
    };
    // The record's FrameOutcome as an int, for filters.
    static constexpr int OutcomeRole = Qt::UserRole + 1;

    explicit FrameTableModel(std::size_t capacity, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Appends the records (taking their contents), dropping the oldest rows
    // beyond the capacity.
    void append(std::vector<FrameRecord> &records);
    void clear();
    void setCapacity(std::size_t capacity);
    std::size_t capacity() const { return m_capacity; }
    const FrameRecord &record(int row) const { return m_rows[std::size_t(row)]; }
    // The exchange row `row` belongs to, for the filters.
    const FrameExchangeKey &exchangeKey(int row) const { return m_keys[std::size_t(row)]; }
    // The text colour of the rows of failed exchanges in the current palette.
    static QColor failedRowColour();

private:
    void trimTo(std::size_t rows);

    std::deque<FrameRecord> m_rows;
    std::deque<FrameExchangeKey> m_keys; // one per row
    FrameExchangeKeys m_keyMaker;
    std::size_t m_capacity;
};

// Shows the rows frameRowShown() accepts: all, failed exchanges or one
// outcome, of one unit, function and direction, without the status polls.
class FrameOutcomeFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    static constexpr int AllFrames = FrameFilterSettings::AllFrames;
    static constexpr int AllFailures = FrameFilterSettings::AllFailures;

    using QSortFilterProxyModel::QSortFilterProxyModel;
    // AllFrames, AllFailures or an int(FrameOutcome).
    void setOutcome(int outcome);
    int outcome() const { return m_settings.outcome; }
    void setSettings(const FrameFilterSettings &settings);
    const FrameFilterSettings &settings() const { return m_settings; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    FrameFilterSettings m_settings;
};

class FrameMonitor : public QWidget
{
    Q_OBJECT

public:
    enum class SaveFormat
    {
        Text, // the one-line form, as ravelinctl --trace prints it
        Csv,
    };
    static constexpr int RefreshMs = 200;

    explicit FrameMonitor(RegisterAccess &access, QWidget *parent = nullptr);
    ~FrameMonitor() override;

    FrameLog &log() { return m_log; }
    FrameTableModel &model() { return m_model; }
    FrameOutcomeFilter &filter() { return m_filter; }
    QTableView *view() const { return m_view; }

    // Moves the records that arrived since the last call into the table;
    // the timer calls it every RefreshMs. Does nothing while paused.
    void refresh();
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Empties the table and the ring.
    void clear();
    // How many frames the ring and the table keep.
    void setCapacity(std::size_t capacity);
    // Frames the ring overwrote before the table took them (while paused).
    std::uint64_t lostFrames() const { return m_lost; }
    // The rows the filter shows, in order, as lines or CSV. False with a
    // reason when the file cannot be written.
    bool saveTo(const QString &path, SaveFormat format, QString *error = nullptr) const;
    // The selected rows as lines, to the clipboard; returns the text.
    QString copySelection() const;
    bool listening() const;

    // Records every frame to `path` as it happens, hidden or shown, paused or
    // not, until stopped or until the file reaches `limit` bytes (then a
    // message says so). False with a reason when the file cannot be used.
    bool startRecording(const QString &path, SaveFormat format, QString *error = nullptr,
                        qint64 limit = FrameFileRecorder::DefaultLimit);
    void stopRecording();
    const FrameFileRecorder &recorder() const { return m_recorder; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildWindow();
    void buildFilterBar(QHBoxLayout *bar);
    void applyFilters();
    void saveWithDialog();
    void recordWithDialog(bool start);
    void updateStatus();
    // Listening while the window shows or a recording runs.
    void updateTap();
    // Tells the engineer once when the recording stopped by itself.
    void checkRecording();
    // Widens the columns to the texts of rows [first, last] of the model.
    void fitColumns(int first, int last);

    RegisterAccess &m_access;
    FrameLog m_log;
    FrameTableModel m_model;
    FrameOutcomeFilter m_filter;
    FrameFileRecorder m_recorder;
    FrameTapPair m_taps{&m_log, &m_recorder};
    QTimer m_timer;
    std::uint64_t m_shownUpTo = 0; // sequence number of the newest record taken
    std::uint64_t m_lost = 0;
    bool m_paused = false;
    std::vector<FrameRecord> m_incoming; // reused between refreshes

    QTableView *m_view = nullptr;
    QPushButton *m_pause = nullptr;
    QComboBox *m_outcomeBox = nullptr;
    QSpinBox *m_capacityBox = nullptr;
    QSpinBox *m_unitBox = nullptr;
    QSpinBox *m_functionBox = nullptr;
    QComboBox *m_directionBox = nullptr;
    QCheckBox *m_hidePolls = nullptr;
    QPushButton *m_record = nullptr;
    QLabel *m_status = nullptr;
    int m_columnChars[FrameTableModel::ColumnCount] = {};
};
