#pragma once

// The interface every tab page implements for the main window: its part of
// resetting the displays, its request buttons around a request, its unsent
// changes and its firmware gates. The main window reaches pages only through
// this class.

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class PageHost;
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
    void finishRequest(Finish kind, bool ok, const QString &successText, const QString &errorText);

    // Validation before a send: the boxes' texts as whole numbers inside
    // [min, max], checked in order. At the first invalid box the send is
    // refused (refuseEntry) and nothing is returned.
    std::optional<std::vector<int>> takeNumbers(const QList<QLineEdit *> &boxes, int min, int max,
                                                const QString &errorText);
    // A refused send: the cursor back, the busy window hidden, one error
    // message, and the keyboard focus on the box to correct.
    void refuseEntry(QLineEdit *box, const QString &errorText);

    PageHost &m_host;

private:
    QList<QPushButton *> m_alwaysButtons;
    QPushButton *m_sendButton = nullptr;
    bool m_unsent = false;
    bool m_loading = false;
};
