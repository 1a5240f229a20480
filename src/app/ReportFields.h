#pragma once

// What the engineer adds to a commissioning report (site, own name, notes),
// the fields that ask for them beside the report's file dialog, and their
// memory in the settings file between runs.

#include <QString>
#include <QWidget>

class QLineEdit;
class QPlainTextEdit;

struct ReportFields
{
    QString site;
    QString engineer;
    QString notes; // may span lines

    bool operator==(const ReportFields &other) const
    {
        return site == other.site && engineer == other.engineer && notes == other.notes;
    }
};

// The fields as the settings file remembers them, in a section of their own
// ([Commissioning Report]); empty when the file or the keys are missing.
ReportFields loadReportFields(const QString &settingsPath);
// Writes the three keys, leaving every other line of the file alone. False
// when the file could not be read or written.
bool saveReportFields(const QString &settingsPath, const ReportFields &fields);

// The three entry boxes, filled with `fields`.
class ReportFieldsBox : public QWidget
{
    Q_OBJECT

public:
    explicit ReportFieldsBox(const ReportFields &fields, QWidget *parent = nullptr);
    ReportFields fields() const;

private:
    QLineEdit *m_site = nullptr;
    QLineEdit *m_engineer = nullptr;
    QPlainTextEdit *m_notes = nullptr;
};
