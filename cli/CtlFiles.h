#pragma once

// ravelinctl's commands that work with files: backup and restore of a unit's
// configuration, the object names as CSV, the commissioning report and the
// site survey. README describes them; docs/config-file.md the file format.

#include "CtlSession.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QCoreApplication;
struct OpResult;
struct ProductInfo;

// Exit statuses of these commands beside those of CtlExit.
constexpr int ExitFindings = 1; // survey: a host unreachable or a value duplicated
constexpr int ExitBadFile = 5;  // an input file refused; nothing was sent

// What every file command is told about the invocation.
struct FileCommandContext
{
    QString unitAddress; // where the unit is reached, for messages and the report
    bool json = false;   // print one JSON object instead of text
};

// The application object: for a report, a GUI application on the offscreen
// platform (laying out the PDF needs fonts, not a display); otherwise a core
// application.
std::unique_ptr<QCoreApplication> makeCtlApplication(int &argc, char **argv);

// backup, restore, names --csv, set-names and report. Checks the arguments
// and reads any input file completely before anything is sent: a usage error
// or a refused file is printed and ends the process. An empty function for
// every other command.
std::function<CtlOutput(CtlSession &)> prepareFileCommand(const QString &command,
                                                          const QStringList &arguments,
                                                          const FileCommandContext &context);

// survey: reads the hosts file, identifies every host and prints the table.
// Returns the exit status.
int runSurvey(const QStringList &arguments, std::uint16_t defaultPort, std::uint16_t timeoutTenths,
              bool json, bool serial);

// --- Shared by the file commands ---

namespace CtlFiles {

// The line after every usage error, in place of the whole help text.
inline constexpr const char *UsageHint = "(ravelinctl --help lists the commands)";
// Prints "ravelinctl: message" and the hint line, and exits with ExitUsage.
[[noreturn]] void usageError(const QString &message);
// Prints "ravelinctl: FILE: message" lines and exits with ExitBadFile.
[[noreturn]] void refuseFile(const QString &path, const QStringList &messages);

// The product block, refused unless the unit is a Quorix Ravelin unit: a
// command that writes or documents a unit works only on the units the tool
// itself accepts. Fills `out` with the failure when it returns nothing; a
// refusal names the product code and ends with `hint` when one is given.
std::optional<ProductInfo> checkRavelin(RegisterAccess &access, const FileCommandContext &context,
                                        CtlOutput &out, const QString &hint = {});
// `run` behind checkRavelin: nothing is sent past the product block read
// unless the unit is a Quorix Ravelin unit.
std::function<CtlOutput(CtlSession &)> ravelinOnly(std::function<CtlOutput(CtlSession &)> run,
                                                   const FileCommandContext &context,
                                                   const QString &hint = {});
// Fills `out` with a failed chain of exchanges, naming the failed block;
// `nameNumber` is the object name the chain had reached, if any.
void failAt(const OpResult &op, int nameNumber, CtlOutput &out);
// A line of progress: printed at once in text mode, kept in `out` for JSON.
void progressLine(const FileCommandContext &context, CtlOutput &out, const QString &line);

QString toolVersion();

} // namespace CtlFiles

std::function<CtlOutput(CtlSession &)> prepareReport(const QStringList &arguments,
                                                     const FileCommandContext &context);
