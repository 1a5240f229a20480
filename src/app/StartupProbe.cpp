#include "StartupProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <memory>

namespace {

constexpr int LatestMs = 1000;

class FirstExpose : public QObject
{
public:
    FirstExpose(QWindow *window, std::function<void()> action)
        : QObject(window), m_window(window), m_action(std::move(action))
    {
        window->installEventFilter(this);
        QTimer::singleShot(LatestMs, this, [this] { fire(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed())
            // Let this expose paint first.
            QTimer::singleShot(0, this, [this] { fire(); });
        return false;
    }

private:
    void fire()
    {
        if (!m_action)
            return;
        const std::function<void()> action = std::move(m_action);
        m_action = nullptr;
        m_window->removeEventFilter(this);
        action();
    }

    QWindow *m_window;
    std::function<void()> m_action;
};

} // namespace

void whenFirstShown(QWidget *window, std::function<void()> action)
{
    window->winId(); // makes the native window, so its first expose is seen
    if (QWindow *handle = window->windowHandle())
        new FirstExpose(handle, std::move(action));
    else
        QTimer::singleShot(0, window, std::move(action));
}

bool installStartupProbe(QWidget *window)
{
    if (!qEnvironmentVariableIsSet("RAVELIN_STARTUP_PROBE"))
        return false;
    whenFirstShown(window, [] {
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    return true;
}
