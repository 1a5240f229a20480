#include "MacDialog.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

TMACFrm::TMACFrm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MACFrm"));
    setWindowTitle(QStringLiteral("MAC Address"));
    auto *layout = new QVBoxLayout(this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
