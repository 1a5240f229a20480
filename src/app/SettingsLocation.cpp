#include "SettingsLocation.h"

#include "AppSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString canonicalFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

// $XDG_CONFIG_HOME, or ~/.config when it is unset or relative, as the base
// directory rules ask.
QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

QString settingsFilePath(const QString &startFolder, const QString &executableFolder,
                         const QStringList &installedBinFolders)
{
    const QString inStartFolder = QDir(startFolder).filePath(QLatin1String(SettingsFileName));
    bool installed = false;
    for (const QString &bin : installedBinFolders)
        installed = installed ||
                    (!bin.isEmpty() && canonicalFolder(executableFolder) == canonicalFolder(bin));
    if (QFileInfo::exists(inStartFolder) || !installed)
        return inStartFolder;
    const QString folder = configHome() + QLatin1Char('/') + QLatin1String(SettingsFolderName);
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QLatin1String(SettingsFileName);
}

QString settingsFilePathIn(const QString &startFolder)
{
    return settingsFilePath(
        startFolder, QCoreApplication::applicationDirPath(),
        {QStringLiteral(RAVELIN_INSTALLED_BINDIR), QStringLiteral(RAVELIN_PACKAGE_BINDIR)});
}
