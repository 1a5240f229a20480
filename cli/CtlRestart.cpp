#include "CtlRestart.h"

#include "CtlConfig.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QMap>
#include <QThread>

#include <algorithm>

namespace {

constexpr int MaxWaitSeconds = 3600;

bool isSeconds(const QString &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

// One connect and identify at `host`: the session on which a unit answered
// with its identity (any product: a unit that answers is back), or null.
CtlSession *answers(const SessionFactory &reconnect, const QString &host, CtlSession &sent,
                    std::unique_ptr<CtlSession> &fresh)
{
    fresh = reconnect(host);
    CtlSession *session = fresh ? fresh.get() : &sent;
    QString error;
    if (fresh && !fresh->connect(&error))
        return nullptr;
    return session->identify().exitCode == ExitOk ? session : nullptr;
}

// The expected values compared with what the unit holds now, one line per
// key that differs.
void compareExpected(CtlSession &session, const RestartPlan &plan, CtlOutput &out)
{
    QMap<QString, QMap<QString, QString>> areas; // area -> key -> text as get prints it
    QJsonObject differs;
    for (const auto &[key, expected] : plan.expect) {
        const QString area = getAreaOfKey(key);
        if (!areas.contains(area)) {
            const CtlOutput got = getArea(session, area);
            if (got.exitCode != ExitOk) {
                out.exitCode = got.exitCode;
                out.lines << QStringLiteral("back, but reading %1 failed: %2")
                                 .arg(area, got.lines.value(0));
                out.json.insert(QStringLiteral("error"), out.lines.last());
                return;
            }
            QMap<QString, QString> values;
            for (const QString &line : got.lines) {
                const qsizetype split = line.indexOf(QLatin1Char('='));
                values.insert(line.left(split), line.mid(split + 1));
            }
            areas.insert(area, values);
        }
        const QString unit = areas[area].value(key);
        if (unit == expected)
            continue;
        out.lines << QStringLiteral("%1: expected %2, unit has %3").arg(key, expected, unit);
        differs.insert(key, QJsonObject{{QStringLiteral("expected"), expected},
                                        {QStringLiteral("unit"), unit}});
    }
    out.json.insert(QStringLiteral("differs"), differs);
    if (!differs.isEmpty())
        out.exitCode = ExitValuesDiffer;
}

} // namespace

RestartPlan parseRestartArguments(const QStringList &arguments, bool serial, QString *error)
{
    RestartPlan plan;
    bool hostGiven = false;
    for (qsizetype i = 0; i < arguments.size() && error->isEmpty(); ++i) {
        const QString &word = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (word == QLatin1String("--wait")) {
            plan.wait = true;
            if (hasValue && !arguments[i + 1].startsWith(QLatin1String("--"))) {
                const QString text = arguments[++i];
                const int seconds = isSeconds(text) && text.size() <= 4 ? text.toInt() : 0;
                if (seconds < 1 || seconds > MaxWaitSeconds)
                    *error = QStringLiteral("--wait takes whole seconds from 1 to %1, not \"%2\"")
                                 .arg(MaxWaitSeconds)
                                 .arg(text);
                plan.waitSeconds = seconds;
            }
        } else if (word == QLatin1String("--new-host") && hasValue) {
            plan.newHost = arguments[++i].trimmed();
            hostGiven = true;
            if (plan.newHost.isEmpty() || plan.newHost.contains(QLatin1Char(':')))
                *error = QStringLiteral("--new-host takes an address without a port, not \"%1\"")
                             .arg(arguments[i]);
        } else if (word == QLatin1String("--expect") && hasValue) {
            const QString pair = arguments[++i];
            const qsizetype split = pair.indexOf(QLatin1Char('='));
            const QString key = pair.left(split);
            QString problem;
            std::optional<QString> value;
            if (split < 0)
                problem = QStringLiteral("--expect wants KEY=VALUE, not \"%1\"").arg(pair);
            else if (getAreaOfKey(key).isEmpty())
                problem = QStringLiteral("--expect has no key \"%1\" (keys of get network, get "
                                         "g50 and get bacnet)")
                              .arg(key);
            else
                value = getStyleValue(key, pair.mid(split + 1), &problem);
            if (value)
                plan.expect.append({key, *value});
            else
                *error = problem;
        } else if (word == QLatin1String("--new-host") || word == QLatin1String("--expect")) {
            *error = QStringLiteral("%1 needs a value").arg(word);
        } else {
            *error = QStringLiteral("restart takes --wait [SECONDS], --new-host ADDRESS and "
                                    "--expect KEY=VALUE, not \"%1\"")
                         .arg(word);
        }
    }
    if (!error->isEmpty())
        return plan;
    if (!plan.wait && (hostGiven || !plan.expect.isEmpty()))
        *error = QStringLiteral("--new-host and --expect need --wait");
    else if (serial && hostGiven)
        *error = QStringLiteral("--new-host is for a unit on the network, not on a serial line");
    return plan;
}

CtlOutput restartAndWait(CtlSession &session, const RestartPlan &plan, const QString &host,
                         const SessionFactory &reconnect, const RestartTiming &timing)
{
    CtlOutput out = session.restart();
    if (out.exitCode != ExitOk || !plan.wait)
        return out;
    const QString where = plan.newHost.isEmpty() ? host : plan.newHost;
    QDeadlineTimer deadline(qint64(plan.waitSeconds) * 1000);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<CtlSession> fresh;
    CtlSession *back = nullptr;
    // The unit leaves a moment after it has acknowledged the command: the
    // first attempt waits one interval, so it never reaches the unit on its
    // way down.
    while (!back && !deadline.hasExpired()) {
        QThread::msleep(ulong(std::min<qint64>(timing.attemptEveryMs, deadline.remainingTime())));
        back = answers(reconnect, where, session, fresh);
    }
    const double seconds = double(clock.elapsed()) / 1000.0;
    out.json.insert(QStringLiteral("back"), back != nullptr);
    out.json.insert(QStringLiteral("waited"), seconds);
    out.json.insert(QStringLiteral("address"), where);
    if (!back) {
        out.exitCode = ExitNotBack;
        out.lines << QStringLiteral("the unit did not answer at %1 within %2 s")
                         .arg(where)
                         .arg(plan.waitSeconds);
        out.json.insert(QStringLiteral("error"), out.lines.last());
        return out;
    }
    out.lines
        << QStringLiteral("the unit is back at %1 after %2 s").arg(where).arg(seconds, 0, 'f', 1);
    if (!plan.expect.isEmpty())
        compareExpected(*back, plan, out);
    return out;
}
