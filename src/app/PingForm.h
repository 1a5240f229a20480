#pragma once

// The ping window: echoes the unit's address before connecting.

#include <QDialog>

class TPingForm : public QDialog
{
    Q_OBJECT
public:
    explicit TPingForm(QWidget *parent = nullptr);
};
