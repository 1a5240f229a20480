#pragma once

// The "Unit Names" tab: the names of the 100 unit addresses and the fixed names
// of the five system objects, in a two-column grid.

#include "SessionPage.h"

#include <QStringList>

class QLineEdit;
class QPushButton;
class QTableWidget;

class NamesPage : public SessionPage
{
    Q_OBJECT
public:
    static constexpr int NameRows = 105; // rows 1 to 100 unit names, 101 to 105 system objects

    NamesPage(PageHost &host, QWidget *parent);

    void resetDisplay() override;

    void ReadObjectNames();
    void SendObjectNames();
    void Button9Click();
    void Button10Click();

    // Fills the grid with the address column, empty unit names and the default
    // system object names, mirrors column 1 into ObjectNames and scrolls to row 1.
    void resetGrid();
    // Grid text by the page's row numbering: row 0 is the header, 1 to 105 names.
    QString cellText(int row, int column) const;

    // Column 1 of the grid by row (1 to 105); entry 0 is unused.
    QStringList ObjectNames;

    QTableWidget *StringGrid1 = nullptr;
    QLineEdit *Edit27 = nullptr; // in-place name editor, hidden while not editing
    QPushButton *BitBtn3 = nullptr;
    QPushButton *Button9 = nullptr;
    QPushButton *Button10 = nullptr;
};
