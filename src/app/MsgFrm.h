#pragma once

// The busy message window: a borderless, always-on-top box with one centred
// line of text, shown while the tool blocks on the unit.

#include <QWidget>

class QLabel;

class TMsg_Frm : public QWidget
{
    Q_OBJECT
public:
    // anchor is the window the box centres itself on each time it is shown.
    explicit TMsg_Frm(QWidget *anchor);

    // Sets the text, centres on the anchor, shows and paints at once so the
    // text is visible before the caller starts blocking work.
    void showMessage(const QString &text);
    QString text() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void centreOnAnchor();

    QWidget *m_anchor;
    QLabel *m_panel;
};
