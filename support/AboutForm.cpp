#include "support/AboutForm.h"

#include "support/ErrorReport.h"

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

struct LabelDesign {
    QLabel *TAboutBox::*label;
    int left, top, width, height;
    bool wordWrap;
};
constexpr LabelDesign Labels[] = {
    {&TAboutBox::ProductName, 64, 8, 68, 13, false},
    {&TAboutBox::Copyright, 64, 40, 44, 13, false},
    {&TAboutBox::Programmer, 64, 72, 59, 13, true},
    {&TAboutBox::Website, 64, 104, 44, 13, true},
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
    int previousBottom = 0;
    int right = PanelWidth - LabelMargin;
    int bottom = PanelHeight - LabelMargin;
    for (const LabelDesign &design : Labels) {
        QLabel *label = this->*design.label;
        // With word wrap a word longer than the width widens the label, as the
        // text is only broken between words.
        const int flags = design.wordWrap ? Qt::TextWordWrap : 0;
        const QRect text = metrics.boundingRect(QRect(0, 0, design.wordWrap ? design.width : 0, 0),
                                                flags, label->text());
        const int width = design.wordWrap ? std::max(design.width, text.width()) : text.width();
        const int height = std::max(metrics.height(), text.height());
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
