#pragma once

// The interface every tab page implements for the main window: its part of
// resetting the displays, its request buttons around a request, its unsent
// changes and its firmware gates. The main window reaches pages only through
// this class.

#include <QList>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <set>
#include <vector>

class PageHost;
struct SentSetting;
class QCheckBox;
class QLineEdit;
class QPushButton;

class SessionPage : public QWidget
{
    Q_OBJECT
public:
    SessionPage(PageHost &host, QWidget *parent);

    // Empties the page's displays; runs while the host is resetting pages, so
    // nothing it changes counts as an edit.
    virtual void resetDisplay() {}
    // Firmware version in hundredths, read when a unit is accepted.
    virtual void applyFirmwareGates(int version) { (void)version; }

    // DisableControls: every request button of the page off.
    void disableRequestButtons();
    // EnableControls: the page's buttons on, its "Send To Unit" only while the
    // page holds unsent changes.
    void enableRequestButtons();

    bool hasUnsentChanges() const { return m_unsent; }
    // An edit by the user: the tab is highlighted and "Send To Unit" enabled.
    // Ignored while the page is loading values from the unit or the host is
    // resetting pages.
    void markUnsent();
    // A successful send or a reset: highlight off, "Send To Unit" disabled.
    void clearUnsent();

    // Sets the loading state for its lifetime: the values a get writes into
    // the page are not edits.
    class Loading
    {
    public:
        explicit Loading(SessionPage &page) : m_page(page), m_was(page.m_loading)
        {
            page.m_loading = true;
        }
        ~Loading() { m_page.m_loading = m_was; }
        Loading(const Loading &) = delete;
        Loading &operator=(const Loading &) = delete;

    private:
        SessionPage &m_page;
        bool m_was;
    };
    bool loading() const { return m_loading; }

    // The values the page holds: read from this unit in this session, typed,
    // loaded as defaults, imported or opened from a file. A send writes a
    // register block only when the page holds every value in it, so a box
    // nobody filled never overwrites what the unit has. Values are widgets.
    void holdValue(const QObject *value) { m_held.insert(value); }
    template <typename Range> void holdValues(const Range &values)
    {
        for (const QObject *value : values)
            holdValue(value);
    }
    void holdValues(std::initializer_list<const QObject *> values)
    {
        holdValues<std::initializer_list<const QObject *>>(values);
    }
    bool holds(const QObject *value) const { return m_held.count(value) != 0; }
    template <typename Range> bool holdsAll(const Range &values) const
    {
        return std::all_of(std::begin(values), std::end(values),
                           [this](const QObject *value) { return holds(value); });
    }
    bool holdsAll(std::initializer_list<const QObject *> values) const
    {
        return holdsAll<std::initializer_list<const QObject *>>(values);
    }
    template <typename Range> bool holdsAny(const Range &values) const
    {
        return std::any_of(std::begin(values), std::end(values),
                           [this](const QObject *value) { return holds(value); });
    }
    // A session ends or the displays are reset: the page holds nothing.
    virtual void releaseValues() { m_held.clear(); }

    // What a page's show() does about holding: a good read, an opened file
    // and an import hold every value they put on the page (Hold::Shown); a
    // display alone leaves the page holding what it held (Hold::None), so a
    // later send still leaves those blocks alone.
    enum class Hold
    {
        Shown,
        None
    };

signals:
    void unsentChanged(bool unsent);

protected:
    // The page's buttons: those always enabled with the controls, and its
    // "Send To Unit" button (none on pages without one).
    void setRequestButtons(QList<QPushButton *> always, QPushButton *send);
    // A 150 ms pause (events are served meanwhile), then the busy window and
    // the cursor back.
    void commonTail();
    // The common end of a page's request: a 150 ms pause, the busy window and
    // cursor back, then the page's message for the outcome (the success text
    // may be empty: nothing shown). A successful send also clears the page's
    // unsent changes.
    enum class Finish
    {
        Get,
        Send
    };
    // A failure's reason (the failed block and cause) goes on a line of its
    // own below the error text.
    void finishRequest(Finish kind, bool ok, const QString &successText, const QString &errorText,
                       const QString &reason = QString());
    // The end of a send whose values take effect at the unit's next restart:
    // as finishRequest(Finish::Send, ...), and on success the settings sent
    // are kept for the check after the restart and the message offers
    // "Restart Now" beside its OK.
    void finishSendBeforeRestart(bool ok, const QString &successText, const QString &errorText,
                                 const QString &reason, const QList<SentSetting> &sent);

    // Validation before a send: the boxes' texts as whole numbers inside
    // [min, max], checked in order. At the first invalid box the send is
    // refused (refuseEntry) and nothing is returned.
    std::optional<std::vector<int>> takeNumbers(const QList<QLineEdit *> &boxes, int min, int max,
                                                const QString &errorText);
    // A refused send: the cursor back, the busy window hidden, one error
    // message, and the keyboard focus on the box to correct.
    void refuseEntry(QLineEdit *box, const QString &errorText);

    // An edit of the box by the engineer holds its value; what a get, a reset
    // or a file puts there is held (or not) by whoever put it there.
    void holdOnEdit(QLineEdit *box);
    void holdOnEdit(QCheckBox *box);
    // Before a send writes anything: the unit must be the one the session
    // opened with. On false the request has ended: errorText was shown when
    // the unit could not be read; another unit ends the session.
    bool confirmUnit(const QString &errorText);
    // A send for which the page holds none of the blocks: nothing is written.
    void refuseUnheld();
    // The line added to a send's message for the blocks it left out because
    // the page does not hold them all; empty when none was left out.
    static QString leftOutLine(const QStringList &blocks);

    PageHost &m_host;

private:
    QList<QPushButton *> m_alwaysButtons;
    QPushButton *m_sendButton = nullptr;
    bool m_unsent = false;
    bool m_loading = false;
    std::set<const QObject *> m_held;
};
