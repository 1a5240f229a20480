#include "ReportFields.h"

#include "IniFile.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

const QString Section = QStringLiteral("Commissioning Report");
const QString SiteKey = QStringLiteral("Site");
const QString EngineerKey = QStringLiteral("Engineer");
const QString NotesKey = QStringLiteral("Notes");

// One value is one line of the file: line breaks are stored as \n and a
// backslash as \\.
QString escapedLine(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c != QLatin1Char('\r'))
            out += c;
    }
    return out;
}

QString unescapedLine(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            out += next == QLatin1Char('n') ? QChar(QLatin1Char('\n')) : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

ReportFields loadReportFields(const QString &settingsPath)
{
    ReportFields fields;
    IniFile ini;
    if (settingsPath.isEmpty() || !ini.load(settingsPath))
        return fields;
    fields.site = unescapedLine(ini.value(Section, SiteKey).value_or(QString()));
    fields.engineer = unescapedLine(ini.value(Section, EngineerKey).value_or(QString()));
    fields.notes = unescapedLine(ini.value(Section, NotesKey).value_or(QString()));
    return fields;
}

bool saveReportFields(const QString &settingsPath, const ReportFields &fields)
{
    IniFile ini;
    if (settingsPath.isEmpty() || !ini.load(settingsPath))
        return false; // never replace a file that could not be read
    ini.setValue(Section, SiteKey, escapedLine(fields.site));
    ini.setValue(Section, EngineerKey, escapedLine(fields.engineer));
    ini.setValue(Section, NotesKey, escapedLine(fields.notes));
    return ini.save(settingsPath);
}

ReportFieldsBox::ReportFieldsBox(const ReportFields &fields, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ReportFields"));
    auto *form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    m_site = new QLineEdit(fields.site, this);
    m_site->setObjectName(QStringLiteral("ReportSite"));
    m_engineer = new QLineEdit(fields.engineer, this);
    m_engineer->setObjectName(QStringLiteral("ReportEngineer"));
    m_notes = new QPlainTextEdit(fields.notes, this);
    m_notes->setObjectName(QStringLiteral("ReportNotes"));
    m_notes->setTabChangesFocus(true);
    m_notes->setFixedHeight(m_notes->fontMetrics().lineSpacing() * 4 + 12);
    form->addRow(QStringLiteral("Site:"), m_site);
    form->addRow(QStringLiteral("Engineer:"), m_engineer);
    form->addRow(QStringLiteral("Notes:"), m_notes);
}

ReportFields ReportFieldsBox::fields() const
{
    return {m_site->text().trimmed(), m_engineer->text().trimmed(),
            m_notes->toPlainText().trimmed()};
}
