#pragma once

// The File menu's configuration files: saving what the unit holds, opening a
// saved configuration into the pages for review, the object names as CSV and
// the commissioning report. Reads from the unit run as scheduler requests;
// opening a file only edits the pages, as the engineer would, and sends
// nothing.

#include "ConfigFile.h"
#include "NamesCsv.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QMenu;
class TMainForm;

// The files the menu items ask for.
enum class FileDialogKind
{
    SaveConfig,
    OpenConfig,
    ExportNames,
    ImportNames,
    SaveReport
};

struct FileChoice
{
    QString path;
    // Opening a configuration: fill the Network page as well.
    bool includeNetwork = false;
    // Opening a configuration saved from another unit: take its BACnet
    // Device ID and name as well.
    bool includeIdentity = false;
};

// Asks for a file (a suggested name for the save kinds); nothing when the
// engineer cancels. Tests replace the dialog; an empty function restores it.
using FileDialogFunction =
    std::function<std::optional<FileChoice>(FileDialogKind kind, const QString &suggested)>;
void setFileDialogInterceptor(FileDialogFunction function);
std::optional<FileChoice> askForFile(FileDialogKind kind, const QString &suggested,
                                     QWidget *parent);

class ConfigFiles : public QObject
{
    Q_OBJECT
public:
    // Adds its items to `fileMenu` before `before` and registers the
    // requests' handlers.
    ConfigFiles(TMainForm &form, QMenu *fileMenu, QAction *before);

    QAction *OpenConfig1 = nullptr;
    QAction *SaveReport1 = nullptr;
    QAction *ExportNames1 = nullptr;
    QAction *ImportNames1 = nullptr;

    // Requests served by the scheduler.
    void SaveCurrentConfig();
    void SaveCommissioningReport();

    void OpenConfigClick();
    void ExportNamesClick();
    void ImportNamesClick();
    // The pages' unsent changes into files, as the engineer chooses: the
    // names the Unit Names page holds as CSV, and each other page whose
    // every value is held as a section of a configuration file.
    void saveUnsentChanges();

    // Fills the pages from a configuration as the engineer's edits, the
    // network page only when asked, the MAC never; the BACnet Device ID and
    // name only when the file was saved from the session's unit or when
    // asked. Each page that changes is marked unsent; every value filled is
    // held, so a send writes it. Returns the captions of the pages that
    // changed.
    QStringList fillPages(const UnitConfig &config, bool includeNetwork,
                          bool includeIdentity = true);

private:
    void updateActions();
    // The names the Unit Names page holds, as bytes; nothing (with the
    // message shown) when one of them cannot be stored.
    std::optional<NameUpdates> heldNames();
    // The sections of the unsent Network, G50 and BACnet pages that hold
    // every value of the section and pass its entry rules.
    UnitConfig unsentSections() const;
    // Reads the whole unit with the busy window following the blocks; on a
    // failure the busy window is gone and the error is shown.
    bool readUnit(UnitConfig &config);
    void endRead();

    TMainForm &m_form;
};
