#pragma once

// Runs ravelinctl as a script would, bounded in time, and keeps what it said.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

struct CtlRun
{
    int exitCode = -1; // -1: killed, crashed or timed out
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

inline CtlRun runCtl(const QStringList &arguments,
                     const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(RAVELIN_CTL_PATH), arguments);
    CtlRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(3000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    // ravelinctl writes UTF-8 whatever the local code page.
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// "a b c" as separate arguments.
inline QStringList splitArgs(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '));
}
