#include "support/AboutForm.h"

#include "support/ErrorReport.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

namespace {
// Design geometry of the window and its controls.
constexpr int ClientWidth = 296;
constexpr int PanelLeft = 8, PanelTop = 8, PanelWidth = 281, PanelHeight = 137;
constexpr int ButtonWidth = 75, ButtonHeight = 25;
constexpr int ButtonGap = 7;     // panel bottom to button top
constexpr int BottomMargin = 5;  // button bottom to client bottom
constexpr int LabelMargin = 8;   // lowest or rightmost label to the panel's edge
constexpr int LabelSpacing = 6;  // between a grown label and the one below it
// What a window manager's title bar takes beside the caption: the window's
// icon and its buttons.
constexpr int TitleBarDecoration = 100;

struct LabelDesign {
    QLabel *TAboutBox::*label;
    int left, top, width, height;
    bool wordWrap;
};
constexpr LabelDesign Labels[] = {
    {&TAboutBox::ProductName, 64, 8, 68, 13, false},
    {&TAboutBox::Copyright, 64, 40, 44, 13, false},
    {&TAboutBox::Programmer, 64, 72, 59, 13, true},
    // A web address is never broken: it is one line, however long.
    {&TAboutBox::Website, 64, 104, 44, 13, false},
};

void DrawBevel(QPainter &painter, QRect &rect, TBevelPanel::TPanelBevel bevel, const QPalette &palette)
{
    if (bevel == TBevelPanel::bvNone)
        return;
    const bool raised = bevel == TBevelPanel::bvRaised;
    const QColor topLeft = raised ? palette.color(QPalette::Light) : palette.color(QPalette::Dark);
    const QColor bottomRight = raised ? palette.color(QPalette::Dark) : palette.color(QPalette::Light);
    painter.setPen(topLeft);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
    rect.adjust(1, 1, -1, -1);
}
} // namespace

TBevelPanel::TBevelPanel(QWidget *parent, TPanelBevel outer, TPanelBevel inner)
    : QWidget(parent), BevelOuter(outer), BevelInner(inner)
{
    setAutoFillBackground(true);
}

void TBevelPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QRect rect = this->rect();
    DrawBevel(painter, rect, BevelOuter, palette());
    DrawBevel(painter, rect, BevelInner, palette());
}

TAboutBox::TAboutBox(QWidget *parent) : QDialog(parent)
{
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);

    Panel1 = new TBevelPanel(this, TBevelPanel::bvLowered, TBevelPanel::bvRaised);
    Panel1->setGeometry(PanelLeft, PanelTop, PanelWidth, PanelHeight);
    Panel2 = new TBevelPanel(Panel1, TBevelPanel::bvLowered, TBevelPanel::bvNone);
    Panel2->setGeometry(8, 8, 50, 50);
    Image1 = new QLabel(Panel2);
    Image1->setGeometry(1, 1, 48, 48);
    Image1->setAlignment(Qt::AlignCenter);

    for (const LabelDesign &design : Labels) {
        auto *label = new QLabel(Panel1);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(design.wordWrap);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(design.left, design.top, design.width, design.height);
        this->*design.label = label;
    }
    ProductName->setText("Product Name");
    Copyright->setText("Copyright");
    Programmer->setText("Programmer");
    Website->setText("Website");

    OKButton = new QPushButton("OK", this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { ErrorReport::Guarded([this] { OKButtonClick(); }); });

    FitLabels();
}

void TAboutBox::SetPicture(const QIcon &icon)
{
    if (icon.isNull()) {
        Image1->clear();
        return;
    }
    Image1->setPixmap(icon.pixmap(icon.actualSize(Image1->size())));
}

void TAboutBox::FitLabels()
{
    const QFontMetrics metrics(font());
    // The window is at least as wide as its caption needs, so that the window
    // manager need not cut it: the caption's text in the title-bar font plus
    // room for the frame's icon and buttons.
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int captionWidth = QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + TitleBarDecoration;
    // The one-line labels take their text's width and widen the panel.
    int right = std::max(PanelWidth, captionWidth - (ClientWidth - PanelWidth)) - LabelMargin;
    for (const LabelDesign &design : Labels)
        if (!design.wordWrap)
            right = std::max(right, design.left + metrics.horizontalAdvance((this->*design.label)->text()));
    int previousBottom = 0;
    int bottom = PanelHeight - LabelMargin;
    for (const LabelDesign &design : Labels) {
        QLabel *label = this->*design.label;
        int width = metrics.horizontalAdvance(label->text());
        int height = metrics.height();
        if (design.wordWrap) {
            // Broken between words within the panel's width; a word longer
            // than that widens the label instead of being cut.
            const QRect text = metrics.boundingRect(QRect(0, 0, right - design.left, 0), Qt::TextWordWrap,
                                                    label->text());
            width = std::max(design.width, text.width());
            height = std::max(height, label->heightForWidth(width));
        }
        const int top = previousBottom ? std::max(design.top, previousBottom + LabelSpacing) : design.top;
        label->setGeometry(design.left, top, width, height);
        previousBottom = top + height;
        right = std::max(right, design.left + width);
        bottom = std::max(bottom, previousBottom);
    }
    const int panelWidth = right + LabelMargin;
    const int panelHeight = bottom + LabelMargin;
    Panel1->resize(panelWidth, panelHeight);
    const int clientWidth = ClientWidth + panelWidth - PanelWidth;
    const int buttonTop = PanelTop + panelHeight + ButtonGap;
    OKButton->setGeometry((clientWidth - ButtonWidth + 1) / 2, buttonTop, ButtonWidth, ButtonHeight);
    setFixedSize(clientWidth, buttonTop + ButtonHeight + BottomMargin);
}

void TAboutBox::OKButtonClick() { accept(); }
