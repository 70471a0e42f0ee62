#include "ptt/CPortSetup.h"

#include "ptt/CPort.h"
#include "ptt/CPortCtl.h"
#include "ptt/PttTestButton.h"
#include "support/Led1.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

namespace {
struct ListDesign {
    const char *caption;
    int labelTop, labelWidth, comboTop;
    TComProperty property;
};
constexpr ListDesign Lists[] = {
    {"Port", 24, 19, 16, cpPort},
    {"Baud rate", 48, 46, 40, cpBaudRate},
    {"Data bits", 72, 42, 64, cpDataBits},
    {"Stop bits", 96, 41, 88, cpStopBits},
    {"Parity", 120, 26, 112, cpParity},
    {"Flow control", 144, 57, 136, cpFlowControl},
    {"PTT lines", 168, 45, 160, cpPttLines},
};
// The PTT lines list sits under the six; the dialog grows by one row.
constexpr int ExtraHeight = 24;

// Opens a batch on the port and makes sure it is closed again, also when
// applying fails part-way. A failure while closing on that path would only
// hide the first error, which is the one the user has to see.
class TSettingsBatch {
public:
    explicit TSettingsBatch(TCustomComPort &port) : FPort(port) { FPort.BeginSettingsUpdate(); }
    ~TSettingsBatch()
    {
        if (FOpen) {
            try {
                FPort.EndSettingsUpdate();
            } catch (const std::exception &) {
            }
        }
    }
    TSettingsBatch(const TSettingsBatch &) = delete;
    TSettingsBatch &operator=(const TSettingsBatch &) = delete;

    void End()
    {
        FOpen = false;
        FPort.EndSettingsUpdate();
    }

private:
    TCustomComPort &FPort;
    bool FOpen = true;
};
} // namespace

TComSetupFrm::TComSetupFrm(QWidget *parent) : QDialog(parent)
{
    setWindowTitle("Setup");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);
    setFixedSize(231, 216 + ExtraHeight);

    GroupBox1 = new QGroupBox(" Settings ", this);
    GroupBox1->setGeometry(8, 8, 217, 169 + ExtraHeight);
    const auto place = [this](const ListDesign &design) {
        auto *label = new QLabel(design.caption, GroupBox1);
        // The sizes fit the original font; labels size themselves to their
        // text, so a wider desktop font does not cut them off.
        const QSize fitted = label->sizeHint();
        label->setGeometry(8, design.labelTop, std::max(design.labelWidth, fitted.width()),
                           std::max(13, fitted.height()));
        auto *combo = new TComComboBox(GroupBox1);
        combo->setGeometry(80, design.comboTop, 129, 21);
        combo->SetComProperty(design.property);
        return combo;
    };
    Combo1 = place(Lists[0]);
    Combo2 = place(Lists[1]);
    Combo3 = place(Lists[2]);
    Combo4 = place(Lists[3]);
    Combo5 = place(Lists[4]);
    Combo6 = place(Lists[5]);
    Combo7 = place(Lists[6]);

    Button1 = new QPushButton("OK", this);
    Button1->setGeometry(70, 184 + ExtraHeight, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton("Cancel", this);
    Button2->setGeometry(150, 184 + ExtraHeight, 75, 25);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    QWidget *const tabOrder[] = {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6, Combo7, Button1, Button2};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void TComSetupFrm::AddPttTest(TKeyingThread &keying, TTestOutput output)
{
    // The button and its lamp in a row of their own, the words under them.
    constexpr int Top = 184 + ExtraHeight, WordsHeight = 56, Grown = 31 + WordsHeight;
    TestButton = new TPttTestButton(keying, [this, output = std::move(output)] {
        return output(Combo1->ComSelect().Port, Combo7->ComSelect().PttLines);
    }, this);
    TestButton->setGeometry(8, Top, 75, 25);
    TestButton->Lamp->move(90, Top + 6);
    TestButton->Words->setGeometry(8, Top + 31, 217, WordsHeight);
    Button1->move(Button1->x(), Top + Grown);
    Button2->move(Button2->x(), Top + Grown);
    setFixedSize(width(), height() + Grown);
    connect(this, &QDialog::finished, TestButton, &TPttTestButton::Stop);
    setTabOrder(Combo7, TestButton);
    setTabOrder(TestButton, Button1);
}

// Defined beside the dialog, so that the port object's own unit needs no widgets.
void TCustomComPort::OpenSetupDialog(const std::function<void(TComSetupFrm &form)> &prepare)
{
    TComSetupFrm form;
    for (TComComboBox *combo : form.Combos())
        combo->SetComPort(this);
    for (TComComboBox *combo : form.Combos())
        combo->ShowPortValue();
    if (prepare)
        prepare(form);
    if (OnSetupDialogShow)
        OnSetupDialogShow(form);
    if (form.exec() != QDialog::Accepted)
        return;
    TSettingsBatch batch(*this);
    for (TComComboBox *combo : form.Combos())
        combo->ApplyToPort();
    batch.End();
}
