#pragma once

// The "Unit Names" tab: the names of the 100 unit addresses and the fixed names
// of the five system objects, in a two-column grid edited through an overlay
// editor that follows the selected cell. The grid is the only store of the
// names: reads and defaults write into it, sends take from it.

#include "NamesCsv.h"
#include "SessionPage.h"

#include <QStringList>

#include <bitset>
#include <map>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class NamesPage;

// Column 1 of the grid by the page's row numbering (1 to 105), read from the
// grid itself; row 0 and rows outside the grid give an empty text.
class NameColumn
{
public:
    explicit NameColumn(const NamesPage &page) : m_page(page) {}
    QString value(int row) const;
    QString operator[](int row) const { return value(row); }

private:
    const NamesPage &m_page;
};

class NamesPage : public SessionPage
{
    Q_OBJECT
public:
    static constexpr int NameRows = 105; // rows 1 to 100 unit names, 101 to 105 system objects
    static constexpr int PageStep = 5;   // rows moved by Page Up and Page Down in the editor

    NamesPage(PageHost &host, QWidget *parent);

    void resetDisplay() override;

    // Requests served by the scheduler.
    void ReadObjectNames();
    void SendObjectNames();

    void Button9Click();
    void Button10Click();
    // Rows 1 to 100 get "Unit001" to "Unit100"; the page is marked changed.
    void LoadDefaultNames();
    // Marks the page changed, except while a get is pending or the pages are
    // being reset.
    void MarkNamesChanged();

    // The 100 unit names as the grid shows them, address 1 first; a name
    // being typed in the editor counts.
    QStringList unitNames() const;
    // Puts names (address 1 first, at most 100) into the grid as an edit:
    // the editor's text is taken first, and the page is marked unsent when
    // any name differs. Returns whether one did.
    bool editUnitNames(const QStringList &names);
    // The same for the addresses given (1 to 100); the others keep theirs.
    bool editUnitNames(const std::map<int, QString> &names);

    // Puts names read from the unit into the grid as a get does (never as
    // an edit); the other addresses keep theirs.
    void show(const NameUpdates &names, Hold hold);
    // What a send would write: the names the page holds by address, as the
    // grid shows them.
    std::map<int, QString> entries() const;

    // The addresses whose names the page holds (read from this unit in this
    // session, typed, defaulted, imported or opened from a file), ascending.
    // A send writes these and no others.
    std::vector<int> heldNames() const;
    void releaseValues() override;

    // Fills the grid with the address column, empty unit names and the default
    // system object names and scrolls to row 1.
    void resetGrid();
    // Grid text by the page's row numbering: row 0 is the header, 1 to 105 names.
    QString cellText(int row, int column) const;
    // The grid's current row by the page's numbering (0 when none).
    int currentRow() const;
    // Makes row (1 to 105) the current one in the name column, as a click on
    // its cell does.
    void selectNameCell(int row);

    const NameColumn ObjectNames{*this};

    QTableWidget *StringGrid1 = nullptr;
    QLineEdit *Edit27 = nullptr; // overlay name editor, hidden while not editing
    QPushButton *BitBtn3 = nullptr;
    QPushButton *Button9 = nullptr;
    QPushButton *Button10 = nullptr;
    QLabel *NotReadNote = nullptr; // the addresses the last read left out

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setName(int row, const QString &name);
    void StringGrid1SelectCell(int row, int column);
    // Shows the editor over row's name cell with its text selected and focused.
    void placeEditor(int row);
    // Leaving the editor: its text back into the row it edits, then hidden.
    void Edit27Exit();
    // The program is about to rewrite the grid: the editor lets go of its row
    // and hides without writing its text anywhere.
    void dropEditor();
    bool Edit27KeyDown(int key, Qt::KeyboardModifiers modifiers);
    void showProgress(const char *text, int n);
    // Notes the names from address first on as not read; 0 clears the note.
    void showNotRead(int first);
    bool transportOpen();

    int m_editRow = 0;       // the row the editor's text belongs to; 0 when none
    std::bitset<100> m_held; // bit n - 1: the page holds name n
};
