#pragma once

// Routines every window of the tool shares: the one message-box function, the
// event-processing wait, recursive enabling and the cursor slot.

#include <QString>

#include <functional>

class QIcon;
class QWidget;

enum class MsgKind
{
    Warning,
    Error,
    Information,
    Confirmation,
    Custom
};
enum class MsgButtons
{
    Ok,
    YesNo,
    OkRestartNow // OK, and "Restart Now" beside it
};
enum class MsgAnswer
{
    Ok,
    Yes,
    No,
    RestartNow
};

// Plays the kind's sound and shows a modal message box; returns the button
// pressed. "\r" in text starts a new line. Every message of the tool goes
// through here.
// `reason`, when given, is shown on its own line below the text (what went
// wrong, in the words of ravelinctl); the text itself stays as it is.
MsgAnswer BeepMessageDlg(const QString &text, MsgKind kind, MsgButtons buttons,
                         const QString &reason = QString());
// The same box without the sound.
MsgAnswer MessageDlg(const QString &text, MsgKind kind, MsgButtons buttons,
                     const QString &reason = QString());

// Replaces the modal box (and the sound): tests record messages and answer them,
// the screenshot run prints them. An empty function restores the real box.
using MessageInterceptor = std::function<MsgAnswer(const QString &, MsgKind, MsgButtons)>;
void setMessageInterceptor(MessageInterceptor interceptor);
// Sees the reason line of every box that has one, just before the box's text
// goes to the message interceptor (or the box is shown).
using ReasonInterceptor = std::function<void(const QString &text, const QString &reason)>;
void setReasonInterceptor(ReasonInterceptor interceptor);

// Processes window events for the given time, measured on a monotonic clock.
// Timers, painting and input are served meanwhile.
void Delay(int milliseconds);

// Gives every child of container (recursively) the container's enabled state.
void EnableChildControls(QWidget *container);

// The program's icon: the installed PNGs under programFolder/../share/icons/
// hicolor, read directly (an icon-theme lookup parses every theme's index),
// else the icon theme's; null in a build tree without either.
QIcon applicationIcon(const QString &programFolder);

// The single saved-cursor slot: save() remembers the current cursor and shows
// the hourglass; restore() puts the remembered cursor back. A save while a
// saved cursor waits for its restore keeps the first one. Uses the
// application override cursor, kept at most one level deep.
class CursorSlot
{
public:
    void save();
    void restore();

private:
    bool m_saved = false;
    bool m_savedOverride = false;
    int m_savedShape = 0;
};

// While a blocking exchange waits for its reply the window keeps painting
// (the user's input waits until the exchange is over), and a wait longer
// than LongWaitMs shows the busy cursor unless one is already shown.
class WaitFeedback
{
public:
    static constexpr int LongWaitMs = 500;
    void waiting(int waitedMs);
    void ended();

private:
    bool m_cursorShown = false;
};
