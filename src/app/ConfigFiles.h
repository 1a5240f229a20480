#pragma once

// The File menu's configuration files: saving what the unit holds, opening a
// saved configuration into the pages for review, the object names as CSV and
// the commissioning report. Reads from the unit run as scheduler requests;
// opening a file only edits the pages, as the engineer would, and sends
// nothing.

#include "ConfigFile.h"
#include "NamesCsv.h"
#include "PageHost.h"
#include "ReportFields.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class BACnetPage;
class G50Page;
class NamesPage;
class NetworkPage;
class QAction;
class QMenu;
class QTabWidget;
class QWidget;

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
    // Saving a report: what the engineer put in the dialog's fields.
    ReportFields report = {};
};

// Asks for a file (a suggested name for the save kinds); nothing when the
// engineer cancels. Tests replace the dialog; an empty function restores it.
// Saving a report, the dialog also holds the report's fields, filled with
// `report`.
using FileDialogFunction =
    std::function<std::optional<FileChoice>(FileDialogKind kind, const QString &suggested)>;
void setFileDialogInterceptor(FileDialogFunction function);
std::optional<FileChoice> askForFile(FileDialogKind kind, const QString &suggested, QWidget *parent,
                                     const ReportFields &report = {});

// What the file items need of the window that holds them besides its parts:
// the page services and the session's state.
class ConfigFilesHost
{
public:
    virtual ~ConfigFilesHost() = default;
    virtual PageHost &pageHost() = 0;
    virtual bool sessionOpen() const = 0;
    // The unit identified when the session opened; nothing outside a session.
    virtual const std::optional<ProductInfo> &sessionUnit() const = 0;
    // Where the session's unit is reached, for the report: "COMn" or its IP
    // address and port.
    virtual QString unitLocation() const = 0;
    // The settings file that remembers the report's fields; none by default.
    virtual QString settingsFile() const { return {}; }
    // The window usable again (after a read, before a file dialog).
    virtual void EnableControls() = 0;
};

// The window's parts the file items work with. Pages are reached only
// through their own interface (show, entries, editTo).
struct ConfigFilesParts
{
    QWidget *window = nullptr; // the dialogs' parent and this object's
    QMenu *fileMenu = nullptr; // the items go in before `before`
    QAction *before = nullptr;
    QAction *saveCurrentConfig = nullptr; // "Save Current Config", owned by the window
    QAction *closeConnection = nullptr;   // enabled exactly while a session is open
    QTabWidget *pageControl = nullptr;
    NetworkPage *network = nullptr;
    G50Page *g50 = nullptr;
    BACnetPage *bacnet = nullptr;
    NamesPage *names = nullptr;
};

class ConfigFiles : public QObject
{
    Q_OBJECT
public:
    // Adds its items to the file menu and registers the requests' handlers.
    ConfigFiles(ConfigFilesHost &host, const ConfigFilesParts &parts);

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
    // The report's fields as the next report's dialog offers them.
    ReportFields rememberedReportFields() const;

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
    // Reads the whole unit with the busy window following the blocks and
    // offering Cancel; on a failure or a cancel the busy window is gone and
    // the error, or what was read before the cancel and then nothingDone,
    // is shown.
    bool readUnit(UnitConfig &config, const QString &nothingDone);
    void endRead();

    ConfigFilesHost &m_host;
    PageHost &m_pageHost;
    ConfigFilesParts m_parts;
};
