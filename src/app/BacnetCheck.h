#pragma once

// The "BACnet Check" window: sends a Who-Is to one address (by default the
// unit of the open session) or, when the engineer picks one, to a network
// interface's broadcast address; lists every device that answers with its
// Device object name, marks duplicate instances and a unit that announces
// other values than its BACnet page holds. Usable with or without a session.

#include "DeviceList.h"

#include <QDialog>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

class BacnetCheck : public QDialog
{
    Q_OBJECT
public:
    // What the session's unit should announce; nothing outside a TCP session.
    using ExpectedUnitSource = std::function<std::optional<Bacnet::ExpectedUnit>()>;
    // Where to save the CSV; an empty path cancels (tests replace the dialog).
    using CsvPathSource = std::function<QString(const QString &suggested)>;

    explicit BacnetCheck(ExpectedUnitSource expected, QWidget *parent = nullptr);
    ~BacnetCheck() override;

    void setCsvPathSource(CsvPathSource source) { m_csvPath = std::move(source); }
    // Fills the address with the session's unit, when there is one.
    void prepare();
    void sendWhoIs();
    // The list as tab-separated text with a header line, as Copy puts it on
    // the clipboard.
    QString listText() const;
    bool saveCsv();
    bool running() const;
    const std::vector<Bacnet::FoundDevice> &devices() const;

    QRadioButton *directed = nullptr;
    QLineEdit *address = nullptr;
    QRadioButton *broadcast = nullptr;
    QComboBox *interfaces = nullptr;
    QSpinBox *port = nullptr;
    QSpinBox *seconds = nullptr;
    QPushButton *sendButton = nullptr;
    QPushButton *copyButton = nullptr;
    QPushButton *saveButton = nullptr;
    QTableWidget *table = nullptr;
    QLabel *status = nullptr;

signals:
    void searchFinished();

private:
    void refill();
    void searchDone();

    ExpectedUnitSource m_expected;
    std::optional<Bacnet::ExpectedUnit> m_unit; // as it was when the Who-Is went out
    CsvPathSource m_csvPath;
    Bacnet::Discovery *m_discovery = nullptr;
};
