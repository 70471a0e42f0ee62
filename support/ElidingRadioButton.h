#pragma once
#include <QRadioButton>

// A radio button whose caption, when it is wider than the button, is shown
// cut short with an ellipsis; the whole caption is then its tooltip. Meant
// for captions the program sets at run time (a rig's type) in a fixed layout.
class TElidingRadioButton : public QRadioButton {
public:
    TElidingRadioButton(const QString &caption, QWidget *parent);

    // The caption as it shows on screen.
    QString ShownText() const;
    // The tooltip: the whole caption when it is cut short, else none.
    QString ToolTipText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
};
