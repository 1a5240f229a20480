#include "NamesPage.h"

#include "PageHost.h"
#include "PageKit.h"
#include "RegisterMap.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

using namespace PageKit;

namespace {
const char *const SystemObjectNames[] = {"Sys_Mnet_State", "Sys_Forced_Off_w", "Sys_Forced_Off_r",
                                         "Sys_G50_Comms_State", "Sys_New_Setting_Compare"};
} // namespace

NamesPage::NamesPage(PageHost &host, QWidget *parent) : SessionPage(host, parent)
{
    setObjectName(QStringLiteral("Name_Tab"));
    QGroupBox *group = pageGroup(this, QStringLiteral(" Unit Names "));
    StringGrid1 = new QTableWidget(NameRows, 2, group);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(16, 24, 264, 206);
    StringGrid1->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(18);
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->setColumnWidth(0, 64);
    StringGrid1->setColumnWidth(1, 178);
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setShowGrid(true);

    Edit27 = edit(group, QStringLiteral("Edit27"), 19, QRect(82, 44, 178, 18));
    Edit27->setStyleSheet(QStringLiteral("background-color: palette(button);"));
    Edit27->hide();

    BitBtn3 = button(group, QStringLiteral("BitBtn3"), QStringLiteral("Load\nDefaults"),
                     QRect(288, 24, 70, 52));
    const GetSendPair pair = getSendButtons(group, 9, 10);
    Button9 = pair.get;
    Button10 = pair.send;
    setRequestButtons({Button9, BitBtn3}, Button10);
    connect(Button9, &QPushButton::clicked, this, &NamesPage::Button9Click);
    connect(Button10, &QPushButton::clicked, this, &NamesPage::Button10Click);

    host.scheduler().setHandler(Request::GetNames, [this] { ReadObjectNames(); });
    host.scheduler().setHandler(Request::SendNames, [this] { SendObjectNames(); });
}

void NamesPage::resetDisplay()
{
    resetGrid();
    BitBtn3->setText(QStringLiteral("Load\nDefaults"));
}

void NamesPage::resetGrid()
{
    QStringList &names = ObjectNames;
    names = QStringList(NameRows + 1, QString());
    for (int row = 1; row <= NameRows; ++row) {
        const bool unit = row <= ObjectNameCount;
        const QString address = unit ? QString::asprintf("%03d", row)
                                     : QStringLiteral("Sys-%1").arg(row - ObjectNameCount);
        const QString name =
            unit ? QString() : QString::fromLatin1(SystemObjectNames[row - ObjectNameCount - 1]);
        auto *fixed = new QTableWidgetItem(address);
        fixed->setFlags(Qt::ItemIsEnabled);
        fixed->setBackground(palette().button());
        StringGrid1->setItem(row - 1, 0, fixed);
        StringGrid1->setItem(row - 1, 1, new QTableWidgetItem(name));
        names[row] = name;
    }
    StringGrid1->scrollToTop();
}

QString NamesPage::cellText(int row, int column) const
{
    if (row == 0)
        return StringGrid1->horizontalHeaderItem(column)->text();
    const QTableWidgetItem *item = StringGrid1->item(row - 1, column);
    return item ? item->text() : QString();
}

void NamesPage::Button9Click()
{
    m_host.raiseRequest(Request::GetNames);
}

void NamesPage::Button10Click()
{
    m_host.raiseRequest(Request::SendNames);
}

void NamesPage::ReadObjectNames()
{
    const Loading loading(*this);
    commonTail();
}

void NamesPage::SendObjectNames()
{
    commonTail();
}
