#include "PingForm.h"

#include "PageKit.h"
#include "UiSupport.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

namespace {

const QString UnknownAddress = QStringLiteral("???.???.???.???");

// Monotonic, so a run across midnight or a clock change still measures right.
qint64 monotonicMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

} // namespace

TPingForm::TPingForm(CursorSlot *savedCursor, QWidget *parent)
    : QDialog(parent), m_savedCursor(savedCursor), m_clock(monotonicMs)
{
    setObjectName(QStringLiteral("PingForm"));
    setWindowTitle(QStringLiteral("Ping Test....."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(337, 209);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 321, 161);
    Label1 = PageKit::label(GroupBox1, QStringLiteral("IP Address"), QRect(16, 16, 80, 17));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = PageKit::boldLabel(GroupBox1, UnknownAddress, QRect(104, 16, 200, 17));
    Label2->setObjectName(QStringLiteral("Label2"));
    PageKit::setTextColour(Label2, PageKit::Navy);
    ListBox1 = new QListWidget(GroupBox1);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(16, 48, 289, 97);
    Button1 = PageKit::button(this, QStringLiteral("Button1"), QStringLiteral("Close"),
                              QRect(131, 176, 75, 25));
    Button1->setEnabled(false);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseMs);
    connect(&m_pause, &QTimer::timeout, this, [this] { sendNext(m_run); });
}

TPingForm::~TPingForm()
{
    // Only the run stops here: the main window's cursor slot may be gone
    // already when the program ends.
    m_pause.stop();
    if (m_echo)
        m_echo->cancel();
}

void TPingForm::setEchoClient(std::unique_ptr<EchoClient> client)
{
    stopRun();
    m_echo = std::move(client);
    if (m_echo)
        connect(m_echo.get(), &EchoClient::finished, this, &TPingForm::echoFinished);
}

CursorSlot &TPingForm::cursor()
{
    if (m_savedCursor)
        return *m_savedCursor;
    if (!m_ownCursor)
        m_ownCursor = std::make_unique<CursorSlot>();
    return *m_ownCursor;
}

void TPingForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // A window restored from its minimised state is shown again by the
    // system; only a showing by the program starts a run.
    if (!event->spontaneous())
        startRun();
}

void TPingForm::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        stopRun();
}

void TPingForm::startRun()
{
    stopRun();
    if (!m_echo)
        setEchoClient(createEchoClient());
    Label2->setText(UnknownAddress);
    PingCount = 0;
    Button1->setEnabled(false);
    ListBox1->clear();
    cursor().save();
    m_running = true;
    // The first request goes out once the window has been drawn.
    const int run = ++m_run;
    QMetaObject::invokeMethod(
        this, [this, run] { sendNext(run); }, Qt::QueuedConnection);
}

void TPingForm::sendNext(int run)
{
    if (!m_running || run != m_run)
        return;
    PingHost = m_nextHost;
    Label2->setText(PingHost);
    m_sentAt = m_clock();
    ++PingCount;
    m_echo->send(PingHost, EchoTimeoutMs);
}

void TPingForm::echoFinished(const EchoOutcome &outcome)
{
    if (!m_running)
        return;
    // A reply within the same millisecond still shows as 1 ms.
    const qint64 elapsed = m_clock() - m_sentAt + 1;
    switch (outcome.status) {
    case EchoStatus::Reply:
        ListBox1->addItem(QStringLiteral("Attempt %1: Reply From %2 in %3ms")
                              .arg(QString::number(PingCount), PingHost, QString::number(elapsed)));
        break;
    case EchoStatus::NoReply:
        ListBox1->addItem(QStringLiteral("Attempt %1: No Reply From %2")
                              .arg(QString::number(PingCount), PingHost));
        break;
    case EchoStatus::Failed:
        // The same failure would come back for every attempt: the run ends
        // here with the reason.
        ListBox1->addItem(QStringLiteral("Attempt %1: Ping Not Possible: %2")
                              .arg(QString::number(PingCount), outcome.detail));
        endRun();
        return;
    }
    if (PingCount >= Attempts)
        endRun();
    else
        m_pause.start();
}

void TPingForm::endRun()
{
    m_running = false;
    Button1->setEnabled(true);
    cursor().restore();
}

void TPingForm::stopRun()
{
    m_pause.stop();
    if (m_echo)
        m_echo->cancel();
    if (m_running) {
        m_running = false;
        cursor().restore();
    }
}
