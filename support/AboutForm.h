#pragma once
#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

// A panel with an outer and an inner one-pixel bevel, filled with the window
// colour.
class TBevelPanel : public QWidget {
public:
    enum TPanelBevel { bvNone, bvLowered, bvRaised };

    TBevelPanel(QWidget *parent, TPanelBevel outer, TPanelBevel inner);
    TPanelBevel BevelOuter;
    TPanelBevel BevelInner;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The About window: built for one showing by TAboutDlg::ShowAboutBox.
class TAboutBox : public QDialog {
public:
    explicit TAboutBox(QWidget *parent = nullptr);

    TBevelPanel *Panel1 = nullptr;
    TBevelPanel *Panel2 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *ProductName = nullptr;
    QLabel *Copyright = nullptr;
    QLabel *Programmer = nullptr;
    QLabel *Website = nullptr;
    QPushButton *OKButton = nullptr;

    // Image1 shows the icon at its own size (at most 48 x 48), centred.
    void SetPicture(const QIcon &icon);
    // Sizes the labels to their texts, as auto-sizing labels do: the one-line
    // labels (the web address among them) take their text's width, the
    // word-wrapping one breaks between words within the panel's width and
    // grows downward. A label that grew pushes the ones below it down, and
    // the panel and the window grow to hold them and the caption, so long
    // texts never overlap or get cut off.
    void FitLabels();

    void OKButtonClick();
};
