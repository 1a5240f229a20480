#pragma once

// Window tests against ravelin-sim: its state file, and a main window with a
// Modbus TCP session open to it.

#include "AppTestKit.h"
#include "ConnectionPage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

// Registers seeded before the simulator starts (it loads them) and read back
// after the tool has written (it saves the file on every write, before it
// replies).
class UnitState
{
public:
    explicit UnitState(QString path) : m_path(std::move(path)) {}
    QStringList simArguments() const { return {QStringLiteral("--state"), m_path}; }

    // Registers from `start` on; registers below it that were not set are 0.
    void seed(int unit, int start, const QList<quint16> &values)
    {
        QJsonArray space = m_seed.value(QString::number(unit)).toArray();
        while (space.size() < start + values.size())
            space.append(0);
        for (int i = 0; i < values.size(); ++i)
            space[start + i] = int(values[i]);
        m_seed.insert(QString::number(unit), space);
    }
    bool save() const
    {
        QFile file(m_path);
        return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(m_seed).toJson()) > 0;
    }
    QList<quint16> read(int unit, int start, int count) const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QJsonArray space =
            QJsonDocument::fromJson(file.readAll()).object().value(QString::number(unit)).toArray();
        QList<quint16> values;
        for (int i = start; i < start + count && i < space.size(); ++i)
            values << quint16(space.at(i).toInt());
        return values;
    }

private:
    QString m_path;
    QJsonObject m_seed;
};

// A main window in a Modbus TCP session with the simulator at 127.0.0.1:port,
// its scheduler stepped (Timer2->fire() serves one request).
inline std::unique_ptr<TMainForm> tcpSessionForm(quint16 port, const QStringList &arguments = {})
{
    qputenv("RAVELIN_TCP_PORT", QByteArray::number(port));
    auto form = makeMainForm(arguments);
    const QStringList octets{"127", "0", "0", "1"};
    for (int i = 0; i < 4; ++i)
        editBox(*form, 23 + i)->setText(octets[i]);
    form->connectionPage()->BitBtn2->click();
    qunsetenv("RAVELIN_TCP_PORT");
    form->scheduler().setStepped(true);
    return form;
}

// Typing needs the window active; on the offscreen platform showing the busy
// window takes the activation away.
inline bool activate(TMainForm &form)
{
    form.activateWindow();
    return QTest::qWaitForWindowActive(&form);
}

// The busy window raises itself at every step of a transfer; offscreen
// windows cannot be raised, and each attempt would log a warning.
inline void dropRaiseWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (!text.contains(QLatin1String("does not support raise()")))
                previous(type, context, text);
        });
}

// A loopback port with nothing listening on it: bound once by the kernel's
// choice, then released.
inline quint16 closedLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
