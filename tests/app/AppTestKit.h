#pragma once

// Shared pieces of the window tests: a private working folder per test, the
// message-box recorder, and the main window as the program creates it.

#include "MainForm.h"
#include "UiSupport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QList>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

struct RecordedMessage
{
    QString text;
    MsgKind kind;
    MsgButtons buttons;
};

// Records every message box and answers it from a queue (Yes or OK when empty).
class MessageRecorder
{
public:
    MessageRecorder()
    {
        setMessageInterceptor([this](const QString &text, MsgKind kind, MsgButtons buttons) {
            messages.append({text, kind, buttons});
            if (buttons == MsgButtons::Ok)
                return MsgAnswer::Ok;
            // "Restart Now" is pressed only when a test queued it; otherwise OK.
            if (buttons == MsgButtons::OkRestartNow)
                return !answers.isEmpty() && answers.first() == MsgAnswer::RestartNow
                           ? answers.takeFirst()
                           : MsgAnswer::Ok;
            return answers.isEmpty() ? MsgAnswer::Yes : answers.takeFirst();
        });
    }
    ~MessageRecorder() { setMessageInterceptor({}); }
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QStringList texts() const
    {
        QStringList t;
        for (const RecordedMessage &m : messages)
            t << m.text;
        return t;
    }

    QList<RecordedMessage> messages;
    QList<MsgAnswer> answers;
};

// A settings file as the tool writes it when none existed: the platform's own
// line ends (a file that had some keeps them).
inline QByteArray freshIni(QByteArray lfText)
{
#ifdef Q_OS_WIN
    lfText.replace("\n", "\r\n");
#endif
    return lfText;
}

// A temporary folder that is the working directory while the object lives.
class WorkingFolder
{
public:
    WorkingFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~WorkingFolder() { QDir::setCurrent(m_previous); }
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

    QString iniPath() const { return m_dir.filePath(QStringLiteral("QuorixIPB_Cfg.Ini")); }
    QString path() const { return m_dir.path(); }
    bool writeIni(const QByteArray &content) const
    {
        QFile f(iniPath());
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }
    QByteArray readIni() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Captions of the tabs the user can see, in order.
inline QStringList visibleTabs(TMainForm &form)
{
    QStringList tabs;
    for (int i = 0; i < form.pageControl()->count(); ++i)
        if (form.pageControl()->isTabVisible(i))
            tabs << form.pageControl()->tabText(i);
    return tabs;
}

inline std::unique_ptr<TMainForm> makeMainForm(const QStringList &arguments = {})
{
    auto form = std::make_unique<TMainForm>(arguments);
    // Window tests start from a session that reads nothing beyond the
    // identity; the tests of reading the pages on connect tick it again.
    form->ReadPagesOnConnect1->setChecked(false);
    form->createCompanionWindows();
    form->show();
    return form;
}

template <typename T> T *named(QWidget *root, const QString &name)
{
    return root->findChild<T *>(name);
}

// Edit box n (Edit1 to Edit28) by its name.
inline QLineEdit *editBox(TMainForm &form, int n)
{
    return form.findChild<QLineEdit *>(QStringLiteral("Edit%1").arg(n));
}

inline bool pending(TMainForm &form, Request request)
{
    return form.scheduler().isPending(request);
}
