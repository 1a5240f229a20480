#pragma once

// ravelinctl restart [--wait [SECONDS]] [--new-host ADDRESS] [--expect KEY=VALUE]...:
// the restart command, then (with --wait) a connect and identify once per
// second until the unit answers again, and the values it holds checked
// against the expected ones.

#include "CtlSession.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Exit statuses of restart --wait besides those of every command.
enum RestartExit
{
    ExitValuesDiffer = 1, // back, but a --expect value differs
    ExitNotBack = 69,     // no answer within the wait ("unavailable")
};

struct RestartPlan
{
    bool wait = false;
    int waitSeconds = 60;
    QString newHost; // empty: the unit is awaited where it was
    // KEY=VALUE as given, each value already in the form get prints.
    QList<QPair<QString, QString>> expect;
};

// The restart command's arguments; refusals come back in `error`, the
// message of a usage error.
RestartPlan parseRestartArguments(const QStringList &arguments, bool serial, QString *error);

// Where and how to reach the unit again: a new session at the given host,
// not yet connected; null to keep asking on the session that sent the
// restart (a serial line stays open across it).
using SessionFactory = std::function<std::unique_ptr<CtlSession>(const QString &host)>;

// How long the wait between attempts lasts (tests of the loop shorten it).
struct RestartTiming
{
    int attemptEveryMs = 1000;
};

// Sends the restart command on `session`; with plan.wait, waits for the unit
// to come back at plan.newHost (or `host`) and compares the expected values.
CtlOutput restartAndWait(CtlSession &session, const RestartPlan &plan, const QString &host,
                         const SessionFactory &reconnect, const RestartTiming &timing = {});
