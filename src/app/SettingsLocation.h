#pragma once

// Where the tool keeps its settings file.
//
// A settings file in the start folder is always the one used, as it always
// was. Without one there, an installed tool (its executable in the install
// prefix's bin folder, or in /usr/bin where the package puts it) keeps the file in
// $XDG_CONFIG_HOME/quorix-ravelin-config/ (~/.config/quorix-ravelin-config/
// when the variable is unset or not absolute) instead of leaving it loose in
// whatever folder it was started from; run from a build folder, it keeps the
// start-folder rule.

#include <QString>
#include <QStringList>

inline constexpr char SettingsFolderName[] = "quorix-ravelin-config";

// The settings file's path. `startFolder` and `executableFolder` as the
// process sees them, `installedBinFolders` the folders an installation puts
// the executable in. Creates the per-user folder when it is chosen.
QString settingsFilePath(const QString &startFolder, const QString &executableFolder,
                         const QStringList &installedBinFolders);

// The same for this process started in `startFolder`: its executable's
// folder, the bin folder of the prefix the build was configured for and the
// package's.
QString settingsFilePathIn(const QString &startFolder);
