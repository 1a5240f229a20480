#include "ConfigFiles.h"

#include "BACnetPage.h"
#include "Codecs.h"
#include "ConfigTransfer.h"
#include "G50Page.h"
#include "NamesPage.h"
#include "NetworkPage.h"
#include "Outcome.h"
#include "PageRules.h"
#include "RavelinVersion.h"
#include "ReportPdf.h"
#include "SaveFile.h"
#include "UiSupport.h"
#include "UnitReport.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMenu>
#include <QTabWidget>

namespace {

const QString ToolName = QStringLiteral("QuorixIPB_Cfg");

FileDialogFunction &dialogInterceptor()
{
    static FileDialogFunction instance;
    return instance;
}

QString configFilter()
{
    return QStringLiteral("Configuration files (*.json);;All files (*)");
}

QString csvFilter()
{
    return QStringLiteral("CSV files (*.csv);;All files (*)");
}

QString failedBlockText(const OpResult &op, const QString &lastBlock, int nameNumber)
{
    if (!op.failedBlock)
        return lastBlock;
    QString block = QString::fromLatin1(op.failedBlock->name);
    if (op.failedBlock->unitId == NamesUnitId && nameNumber > 0)
        block += QStringLiteral(" %1").arg(nameNumber);
    return QStringLiteral("%1: %2").arg(block, describeCause(op));
}

void showError(const QString &text)
{
    BeepMessageDlg(text, MsgKind::Error, MsgButtons::Ok);
}

} // namespace

void setFileDialogInterceptor(FileDialogFunction function)
{
    dialogInterceptor() = std::move(function);
}

std::optional<FileChoice> askForFile(FileDialogKind kind, const QString &suggested, QWidget *parent,
                                     const ReportFields &report)
{
    if (dialogInterceptor())
        return dialogInterceptor()(kind, suggested);
    QFileDialog dialog(parent);
    const bool saving = kind == FileDialogKind::SaveConfig || kind == FileDialogKind::ExportNames ||
                        kind == FileDialogKind::SaveReport;
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QCheckBox *network = nullptr;
    QCheckBox *identity = nullptr;
    ReportFieldsBox *fields = nullptr;
    switch (kind) {
    case FileDialogKind::SaveConfig:
        dialog.setWindowTitle(QStringLiteral("Save Current Config"));
        dialog.setNameFilter(configFilter());
        dialog.setDefaultSuffix(QStringLiteral("json"));
        break;
    case FileDialogKind::OpenConfig: {
        dialog.setWindowTitle(QStringLiteral("Open Config File"));
        dialog.setNameFilter(configFilter());
        // The check boxes need the dialog's own layout, not the system's.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        network = new QCheckBox(QStringLiteral("Fill the Network page too (IP address, gateway, "
                                               "subnet mask, lock)"),
                                &dialog);
        identity = new QCheckBox(QStringLiteral("Take the BACnet Device ID and name even from a "
                                                "file saved from another unit"),
                                 &dialog);
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
            grid->addWidget(network, grid->rowCount(), 0, 1, -1);
            grid->addWidget(identity, grid->rowCount(), 0, 1, -1);
        }
        break;
    }
    case FileDialogKind::ExportNames:
        dialog.setWindowTitle(QStringLiteral("Export Names As CSV"));
        dialog.setNameFilter(csvFilter());
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        break;
    case FileDialogKind::ImportNames:
        dialog.setWindowTitle(QStringLiteral("Import Names From CSV"));
        dialog.setNameFilter(csvFilter());
        break;
    case FileDialogKind::SaveReport:
        dialog.setWindowTitle(QStringLiteral("Save Commissioning Report"));
        dialog.setNameFilter(QStringLiteral("PDF document (*.pdf);;HTML page (*.html)"));
        dialog.setDefaultSuffix(QStringLiteral("pdf"));
        // The fields need the dialog's own layout, not the system's.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        fields = new ReportFieldsBox(report, &dialog);
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
            grid->addWidget(fields, grid->rowCount(), 0, 1, -1);
        break;
    }
    if (!suggested.isEmpty())
        dialog.selectFile(suggested);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    FileChoice choice;
    choice.path = dialog.selectedFiles().constFirst();
    choice.includeNetwork = network && network->isChecked();
    choice.includeIdentity = identity && identity->isChecked();
    if (fields)
        choice.report = fields->fields();
    return choice;
}

ConfigFiles::ConfigFiles(ConfigFilesHost &host, const ConfigFilesParts &parts)
    : QObject(parts.window), m_host(host), m_pageHost(host.pageHost()), m_parts(parts)
{
    QMenu *fileMenu = parts.fileMenu;
    auto item = [&](const char *name, const QString &text) {
        auto *action = new QAction(text, fileMenu);
        action->setObjectName(QString::fromLatin1(name));
        fileMenu->insertAction(parts.before, action);
        return action;
    };
    OpenConfig1 = item("OpenConfig1", QStringLiteral("&Open Config File..."));
    SaveReport1 = item("SaveReport1", QStringLiteral("Save Commissioning &Report..."));
    ExportNames1 = item("ExportNames1", QStringLiteral("&Export Names As CSV..."));
    ImportNames1 = item("ImportNames1", QStringLiteral("&Import Names From CSV..."));

    connect(parts.saveCurrentConfig, &QAction::triggered, this,
            [this] { m_pageHost.raiseRequest(Request::SaveConfig); });
    connect(SaveReport1, &QAction::triggered, this,
            [this] { m_pageHost.raiseRequest(Request::SaveReport); });
    connect(OpenConfig1, &QAction::triggered, this, &ConfigFiles::OpenConfigClick);
    connect(ExportNames1, &QAction::triggered, this, &ConfigFiles::ExportNamesClick);
    connect(ImportNames1, &QAction::triggered, this, &ConfigFiles::ImportNamesClick);

    // The session is open exactly while "Close Connection" is enabled.
    connect(parts.closeConnection, &QAction::changed, this, &ConfigFiles::updateActions);
    connect(parts.pageControl, &QTabWidget::currentChanged, this, &ConfigFiles::updateActions);
    m_pageHost.scheduler().setHandler(Request::SaveConfig, [this] { SaveCurrentConfig(); });
    m_pageHost.scheduler().setHandler(Request::SaveReport, [this] { SaveCommissioningReport(); });
    updateActions();
}

void ConfigFiles::updateActions()
{
    const bool open = m_host.sessionOpen();
    m_parts.saveCurrentConfig->setEnabled(open);
    OpenConfig1->setEnabled(open);
    SaveReport1->setEnabled(open);
    const bool names = open && m_parts.pageControl->currentWidget() == m_parts.names;
    for (QAction *action : {ExportNames1, ImportNames1}) {
        action->setVisible(names);
        action->setEnabled(names);
    }
}

void ConfigFiles::endRead()
{
    Delay(150);
    m_pageHost.hideBusy();
    m_pageHost.restoreCursor();
    // The file dialog that follows is used with the window back.
    m_host.EnableControls();
}

bool ConfigFiles::readUnit(UnitConfig &config, const QString &nothingDone)
{
    if (!m_pageHost.access().hasTransport()) {
        endRead();
        return false;
    }
    m_pageHost.offerCancel();
    QString lastBlock;
    int nameNumber = 0;
    QStringList done; // the blocks read before the one under way
    const OpResult op = readUnitConfig(
        m_pageHost.access(), config,
        [&](const QString &block, int n) {
            if (n <= 1 && !lastBlock.isEmpty())
                done << lastBlock;
            lastBlock = block;
            nameNumber = n;
            m_pageHost.showBusy(n > 0 ? QStringLiteral("Retrieving Object Name %1 of %2....")
                                            .arg(n)
                                            .arg(ObjectNameCount)
                                      : QStringLiteral("Retrieving %1....").arg(block));
        },
        // Asked before each block goes out, never during one: a stop comes
        // between two exchanges.
        [this] { return m_pageHost.cancelRequested(); });
    if (op.stopped) {
        endRead();
        if (nameNumber > 0)
            done
                << QStringLiteral("%1 of %2 object names").arg(nameNumber - 1).arg(ObjectNameCount);
        BeepMessageDlg(
            QStringLiteral("Reading the unit was cancelled.\rRead before the cancel: "
                           "%1.\r%2")
                .arg(done.isEmpty() ? QStringLiteral("nothing") : done.join(QStringLiteral(", ")),
                     nothingDone),
            MsgKind::Information, MsgButtons::Ok);
        return false;
    }
    endRead();
    if (op.ok())
        return true;
    showError(QStringLiteral("Error Retrieving The Unit's Configuration (%1).\rNothing was saved.")
                  .arg(failedBlockText(op, lastBlock, nameNumber)));
    return false;
}

void ConfigFiles::SaveCurrentConfig()
{
    UnitConfig config;
    if (!readUnit(config, QStringLiteral("Nothing was saved.")))
        return;
    config.toolName = ToolName;
    config.toolVersion = QString::fromLatin1(RavelinVersion::ProjectVersion);
    config.savedAt = QDateTime::currentDateTimeUtc();
    const QString suggested = config.bacnet
                                  ? QStringLiteral("ravelin-%1.json").arg(config.bacnet->instance)
                                  : QStringLiteral("ravelin.json");
    const std::optional<FileChoice> choice =
        askForFile(FileDialogKind::SaveConfig, suggested, m_parts.window);
    if (!choice)
        return;
    QString error;
    if (!saveUnitConfig(choice->path, config, &error)) {
        showError(QStringLiteral("The configuration could not be saved:\r%1").arg(error));
        return;
    }
    BeepMessageDlg(QStringLiteral("Configuration saved to %1.").arg(choice->path),
                   MsgKind::Information, MsgButtons::Ok);
}

void ConfigFiles::SaveCommissioningReport()
{
    UnitReport report;
    if (!readUnit(report.config, QStringLiteral("No report was written.")))
        return;
    StatusBlock status;
    if (readStatusBlock(m_pageHost.access(), status).ok())
        report.status = status;
    report.unitAddress = m_host.unitLocation();
    report.toolName = ToolName;
    report.toolVersion = QString::fromLatin1(RavelinVersion::ProjectVersion);
    report.madeAt = QDateTime::currentDateTimeUtc();
    const std::optional<std::uint32_t> instance =
        report.config.bacnet ? std::optional(report.config.bacnet->instance) : std::nullopt;
    const std::optional<FileChoice> choice = askForFile(
        FileDialogKind::SaveReport,
        reportFileName(instance, report.madeAt.toLocalTime().date(), QStringLiteral("pdf")),
        m_parts.window, rememberedReportFields());
    if (!choice)
        return;
    saveReportFields(m_host.settingsFile(), choice->report);
    report.site = choice->report.site;
    report.engineer = choice->report.engineer;
    report.notes = choice->report.notes;
    QString path = choice->path;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix.isEmpty())
        path += QStringLiteral(".html");
    QString error;
    const bool written =
        suffix == QLatin1String("pdf")
            ? writeReportPdf(path, unitReportHtml(report, ReportMedium::Print), ToolName, &error)
            : writeFileAtomically(path, unitReportHtml(report).toUtf8(), &error);
    if (!written) {
        showError(QStringLiteral("The report could not be written to %1:\r%2").arg(path, error));
        return;
    }
    BeepMessageDlg(QStringLiteral("Report written to %1.").arg(path), MsgKind::Information,
                   MsgButtons::Ok);
}

ReportFields ConfigFiles::rememberedReportFields() const
{
    return loadReportFields(m_host.settingsFile());
}

QStringList ConfigFiles::fillPages(const UnitConfig &config, bool includeNetwork,
                                   bool includeIdentity)
{
    QStringList changed;
    if (includeNetwork && config.network) {
        NetworkReading network;
        network.addresses = config.network->addresses;
        network.lockWord = config.network->allowConfigViaNetwork ? 0 : ConfigLockedWord;
        if (m_parts.network->editTo(network))
            changed << QStringLiteral("Network");
    }
    if (config.g50 && m_parts.g50->editTo(*config.g50))
        changed << QStringLiteral("G50");
    if (config.bacnet) {
        const BACnetSettings &b = *config.bacnet;
        BACnetReading bacnet;
        if (includeIdentity) {
            // A file holds valid instances only: a warning about the unit's
            // own invalid one goes with it.
            bacnet.instance = b.instance;
            bacnet.name = b.name;
        }
        bacnet.options = b.options;
        if (m_parts.bacnet->editTo(bacnet))
            changed << QStringLiteral("BACnet");
    }
    if (config.objectNames) {
        QStringList names;
        for (const QByteArray &name : *config.objectNames)
            names << nameText(name);
        if (m_parts.names->editUnitNames(names))
            changed << QStringLiteral("Unit Names");
    }
    return changed;
}

void ConfigFiles::OpenConfigClick()
{
    const std::optional<FileChoice> choice =
        askForFile(FileDialogKind::OpenConfig, QString(), m_parts.window);
    if (!choice)
        return;
    const QString shownName = QFileInfo(choice->path).fileName();
    UnitConfig config;
    ConfigError error;
    if (!loadUnitConfig(choice->path, config, &error)) {
        showError(QStringLiteral("%1: %2\rThe file was refused; nothing was changed.")
                      .arg(shownName, error.text()));
        return;
    }
    // Another unit's Device ID and name would give two devices one BACnet
    // identity on the site.
    RestoreOptions options;
    options.includeIdentity = choice->includeIdentity;
    const std::optional<QString> leftAlone =
        identityLeftAlone(config, m_host.sessionUnit(), options);
    const QStringList changed = fillPages(config, choice->includeNetwork, !leftAlone);
    QString text =
        changed.isEmpty()
            ? QStringLiteral("%1 holds what the pages show; nothing was changed.").arg(shownName)
            : QStringLiteral("%1 was loaded into the pages: %2.\rReview each page and "
                             "send it to the unit. Nothing has been sent.")
                  .arg(shownName, changed.join(QStringLiteral(", ")));
    if (config.network && !choice->includeNetwork)
        text += QStringLiteral("\rThe file's network settings were left out.");
    if (config.bacnet && leftAlone)
        text += QStringLiteral("\rThe file was not saved from this unit (%1): its BACnet Device "
                               "ID and name were left out.")
                    .arg(*leftAlone);
    BeepMessageDlg(text, MsgKind::Information, MsgButtons::Ok);
}

std::optional<NameUpdates> ConfigFiles::heldNames()
{
    // Only names the page holds: an empty row for a name never read would
    // clear that name in a unit the file is later imported into.
    NameUpdates names;
    for (const auto &[n, text] : m_parts.names->entries()) {
        const std::optional<QByteArray> bytes = nameBytes(text);
        if (!bytes) {
            showError(QStringLiteral("The name of address %1 holds a character the unit cannot "
                                     "store.\rNothing was exported.")
                          .arg(n));
            return std::nullopt;
        }
        names.emplace(n, *bytes);
    }
    return names;
}

void ConfigFiles::ExportNamesClick()
{
    const std::optional<NameUpdates> held = heldNames();
    if (!held)
        return;
    const NameUpdates &names = *held;
    if (names.empty()) {
        showError(QStringLiteral("The page holds no names yet: use \"Get From Unit\" first.\r"
                                 "Nothing was exported."));
        return;
    }
    const std::optional<FileChoice> choice =
        askForFile(FileDialogKind::ExportNames, QStringLiteral("names.csv"), m_parts.window);
    if (!choice)
        return;
    QString error;
    if (!writeFileAtomically(choice->path, namesToCsv(names), &error)) {
        showError(
            QStringLiteral("The names could not be written to %1:\r%2").arg(choice->path, error));
        return;
    }
    BeepMessageDlg(names.size() == std::size_t(ObjectNameCount)
                       ? QStringLiteral("Names exported to %1.").arg(choice->path)
                       : QStringLiteral("%1 names exported to %2 (addresses %3); the others have "
                                        "not been read from the unit.")
                             .arg(names.size())
                             .arg(choice->path)
                             .arg(numberRanges(m_parts.names->heldNames())),
                   MsgKind::Information, MsgButtons::Ok);
}

void ConfigFiles::ImportNamesClick()
{
    const std::optional<FileChoice> choice =
        askForFile(FileDialogKind::ImportNames, QString(), m_parts.window);
    if (!choice)
        return;
    const QString shownName = QFileInfo(choice->path).fileName();
    QString reason;
    const std::optional<QByteArray> text = readRegularFile(choice->path, MaxNamesCsvSize, &reason);
    if (!text) {
        showError(QStringLiteral("%1 cannot be read: %2").arg(shownName, reason));
        return;
    }
    QStringList faults;
    const std::optional<NameUpdates> updates = parseNamesCsv(*text, &faults);
    if (!updates) {
        showError(QStringLiteral("%1 was refused; nothing was changed:\r%2")
                      .arg(shownName, faults.join(QLatin1Char('\r'))));
        return;
    }
    std::map<int, QString> names;
    for (const auto &[address, name] : *updates)
        names.emplace(address, nameText(name));
    const bool changed = m_parts.names->editUnitNames(names);
    BeepMessageDlg(changed ? QStringLiteral("%1 names were read from %2.\rReview the page and "
                                            "send it to the unit.")
                                 .arg(updates->size())
                                 .arg(shownName)
                           : QStringLiteral("%1 holds the names the page shows; nothing was "
                                            "changed.")
                                 .arg(shownName),
                   MsgKind::Information, MsgButtons::Ok);
}

UnitConfig ConfigFiles::unsentSections() const
{
    UnitConfig config;
    const NetworkPage &network = *m_parts.network;
    if (network.hasUnsentChanges() && network.holdsAllEntries()) {
        const NetworkEntries entries = network.entries();
        const EntryCheck check = checkEntryNumbers(
            QStringList(entries.addresses.begin(), entries.addresses.end()), 0, OctetMax);
        if (check.ok()) {
            NetworkConfig section;
            std::copy(check.values.begin(), check.values.end(), section.addresses.begin());
            section.allowConfigViaNetwork = entries.allowConfigViaNetwork;
            config.network = section;
        }
    }
    const G50Page &g50 = *m_parts.g50;
    if (g50.hasUnsentChanges() && g50.holdsAllEntries()) {
        const std::array<QString, 4> entries = g50.entries();
        const EntryCheck check =
            checkEntryNumbers(QStringList(entries.begin(), entries.end()), 0, OctetMax);
        if (check.ok()) {
            Octets4 address{};
            std::copy(check.values.begin(), check.values.end(), address.begin());
            config.g50 = address;
        }
    }
    const BACnetPage &bacnet = *m_parts.bacnet;
    if (bacnet.hasUnsentChanges() && bacnet.holdsAllEntries()) {
        const BACnetEntryCheck check = checkBACnetEntries(bacnet.entries());
        if (check.ok())
            config.bacnet = check.settings;
    }
    return config;
}

void ConfigFiles::saveUnsentChanges()
{
    QStringList saved;
    QString error;
    if (m_parts.names->hasUnsentChanges()) {
        const std::optional<NameUpdates> names = heldNames();
        std::optional<FileChoice> choice;
        if (names && !names->empty())
            choice = askForFile(FileDialogKind::ExportNames, QStringLiteral("unsent-names.csv"),
                                m_parts.window);
        if (choice && !writeFileAtomically(choice->path, namesToCsv(*names), &error))
            showError(QStringLiteral("The names could not be written to %1:\r%2")
                          .arg(choice->path, error));
        else if (choice)
            saved << QStringLiteral("the names in %1").arg(choice->path);
    }
    UnitConfig config = unsentSections();
    if (config.network || config.g50 || config.bacnet) {
        // The identity tells a later opening whether the file is this unit's.
        config.identity = m_host.sessionUnit();
        config.toolName = ToolName;
        config.toolVersion = QString::fromLatin1(RavelinVersion::ProjectVersion);
        config.savedAt = QDateTime::currentDateTimeUtc();
        const std::optional<FileChoice> choice = askForFile(
            FileDialogKind::SaveConfig, QStringLiteral("unsent-config.json"), m_parts.window);
        if (choice && !saveUnitConfig(choice->path, config, &error))
            showError(QStringLiteral("The configuration could not be saved:\r%1").arg(error));
        else if (choice)
            saved << QStringLiteral("the page settings in %1").arg(choice->path);
    }
    if (!saved.isEmpty())
        BeepMessageDlg(QStringLiteral("Saved %1.\rOpen the file once connected again to send "
                                      "the changes.")
                           .arg(saved.join(QStringLiteral(" and "))),
                       MsgKind::Information, MsgButtons::Ok);
}
