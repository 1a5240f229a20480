#pragma once

// The MAC address dialog (service mode, serial sessions), opened modally by
// the scheduler when the "Set" button has raised PendingMACDialog.

#include <QDialog>

class TMACFrm : public QDialog
{
    Q_OBJECT
public:
    explicit TMACFrm(QWidget *parent = nullptr);
};
