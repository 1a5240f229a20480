#pragma once

// The busy message window: a borderless, always-on-top box with one centred
// line of text, shown while the tool blocks on the unit. An operation of many
// blocks may add a Cancel button and a second line of its own; both go when
// the window is hidden, so the next operation starts with the plain box.

#include <QWidget>

class QLabel;
class QPushButton;

class TMsg_Frm : public QWidget
{
    Q_OBJECT
public:
    static constexpr int PlainHeight = 90;
    static constexpr int CancelHeight = 124; // room for the added line and the button

    // anchor is the window the box centres itself on each time it is shown.
    explicit TMsg_Frm(QWidget *anchor);

    // Sets the text, centres on the anchor, shows and paints at once so the
    // text is visible before the caller starts blocking work.
    void showMessage(const QString &text);
    QString text() const;

    // Adds the Cancel button until the window is hidden; a press is
    // remembered until the next offer.
    void offerCancel();
    bool cancelOffered() const;
    bool cancelPressed() const { return m_cancelPressed; }
    // The added line below the message (empty: none), until the window is hidden.
    void setDetail(const QString &text);
    QString detail() const;

    QPushButton *cancelButton() const { return m_cancel; }

signals:
    // The engineer pressed Cancel; the operation stops after its block in flight.
    void cancelRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void centreOnAnchor();
    // The plain box, or the taller one while Cancel or the added line is shown.
    void fitExtras();

    QWidget *m_anchor;
    QWidget *m_raised;
    QLabel *m_panel;
    QLabel *m_detail;
    QPushButton *m_cancel;
    bool m_cancelPressed = false;
};
