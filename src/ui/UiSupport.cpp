#include "UiSupport.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace {

MessageInterceptor &interceptor()
{
    static MessageInterceptor instance;
    return instance;
}

QMessageBox::Icon iconFor(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Warning:
        return QMessageBox::Warning;
    case MsgKind::Error:
        return QMessageBox::Critical;
    case MsgKind::Information:
        return QMessageBox::Information;
    case MsgKind::Confirmation:
        return QMessageBox::Question;
    case MsgKind::Custom:
        break;
    }
    return QMessageBox::NoIcon;
}

QString titleFor(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Warning:
        return QStringLiteral("Warning");
    case MsgKind::Error:
        return QStringLiteral("Error");
    case MsgKind::Information:
        return QStringLiteral("Information");
    case MsgKind::Confirmation:
        return QStringLiteral("Confirm");
    case MsgKind::Custom:
        break;
    }
    return QApplication::applicationName();
}

} // namespace

void setMessageInterceptor(MessageInterceptor function)
{
    interceptor() = std::move(function);
}

namespace {
ReasonInterceptor &reasonInterceptor()
{
    static ReasonInterceptor function;
    return function;
}
} // namespace

void setReasonInterceptor(ReasonInterceptor function)
{
    reasonInterceptor() = std::move(function);
}

MsgAnswer BeepMessageDlg(const QString &text, MsgKind kind, MsgButtons buttons,
                         const QString &reason)
{
    // Qt offers one system sound; every kind uses it.
    if (!interceptor())
        QApplication::beep();
    return MessageDlg(text, kind, buttons, reason);
}

MsgAnswer MessageDlg(const QString &text, MsgKind kind, MsgButtons buttons, const QString &reason)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!reason.isEmpty() && reasonInterceptor())
        reasonInterceptor()(shown, reason);
    if (interceptor())
        return interceptor()(shown, kind, buttons);
    QMessageBox box(iconFor(kind), titleFor(kind), shown,
                    buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                 : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setInformativeText(reason);
    QPushButton *restartNow = nullptr;
    if (buttons == MsgButtons::OkRestartNow) {
        restartNow = box.addButton(QStringLiteral("Restart Now"), QMessageBox::AcceptRole);
        restartNow->setObjectName(QStringLiteral("RestartNowButton"));
    }
    const int pressed = box.exec();
    if (buttons == MsgButtons::OkRestartNow)
        return restartNow && box.clickedButton() == restartNow ? MsgAnswer::RestartNow
                                                               : MsgAnswer::Ok;
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    return pressed == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

void Delay(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    // The wake-up timer ends each wait for events when nothing else arrives.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    for (qint64 remaining = milliseconds; remaining > 0;
         remaining = milliseconds - clock.elapsed()) {
        wake.start(int(remaining));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void EnableChildControls(QWidget *container)
{
    if (!container)
        return;
    // The container's own state (explicitly disabled or not), not
    // isEnabled(): that is false for every widget while the window is
    // disabled around a request.
    const bool enabled = !container->testAttribute(Qt::WA_ForceDisabled);
    for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        child->setEnabled(enabled);
        EnableChildControls(child);
    }
}

void CursorSlot::save()
{
    // A second save before the restore keeps the cursor of the first: the
    // hourglass is not what the restore should bring back.
    if (m_saved) {
        if (QGuiApplication::overrideCursor())
            QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        return;
    }
    m_saved = true;
    const QCursor *current = QGuiApplication::overrideCursor();
    m_savedOverride = current != nullptr;
    m_savedShape = current ? int(current->shape()) : 0;
    if (current)
        QGuiApplication::changeOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void CursorSlot::restore()
{
    m_saved = false;
    if (m_savedOverride) {
        if (QGuiApplication::overrideCursor())
            QGuiApplication::changeOverrideCursor(Qt::CursorShape(m_savedShape));
        else
            QGuiApplication::setOverrideCursor(Qt::CursorShape(m_savedShape));
        return;
    }
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

QIcon applicationIcon(const QString &programFolder)
{
    const QString name = QStringLiteral("quorix-ravelin-config");
    const QDir icons(programFolder + QStringLiteral("/../share/icons/hicolor"));
    QIcon icon;
    for (const int side : {16, 32, 48, 64, 128, 256}) {
        const QString path =
            icons.filePath(QStringLiteral("%1x%1/apps/%2.png").arg(side).arg(name));
        if (QFileInfo::exists(path))
            icon.addFile(path, QSize(side, side));
    }
    return icon.isNull() ? QIcon::fromTheme(name) : icon;
}

void WaitFeedback::waiting(int waitedMs)
{
    if (waitedMs >= LongWaitMs && !m_cursorShown && !QGuiApplication::overrideCursor()) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_cursorShown = true;
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void WaitFeedback::ended()
{
    if (m_cursorShown && QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    m_cursorShown = false;
}
