#include "PingForm.h"

#include <QVBoxLayout>

TPingForm::TPingForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PingForm"));
    setWindowTitle(QStringLiteral("Ping"));
    new QVBoxLayout(this);
}
