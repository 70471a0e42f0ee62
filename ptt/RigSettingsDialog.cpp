#include "ptt/RigSettingsDialog.h"

#include "ptt/OmniRig_TLB.h"
#include "ptt/PttTestButton.h"
#include "ptt/RigctldConnection.h"
#include "support/Dialogs.h"
#include "support/ErrorReport.h"
#include "support/IniFile.h"
#include "support/Led1.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace {
QString InvalidAddress(const QString &name, const QString &text)
{
    return "Invalid address of " + name + ": \"" + text + "\"; enter host:port, for example 127.0.0.1:4532";
}
} // namespace

TRigSettingsDialog::TRigSettingsDialog(QString configFileName, QWidget *parent)
    : QDialog(parent), FConfigFileName(std::move(configFileName))
{
    setWindowTitle("OmniRig Settings");
    const TIniFile ini(FConfigFileName);
    Rig1Edit = new QLineEdit(ini.ReadString(OmniRig::Section, OmniRig::Rig1Key, OmniRig::Rig1Default), this);
    Rig2Edit = new QLineEdit(ini.ReadString(OmniRig::Section, OmniRig::Rig2Key, OmniRig::Rig2Default), this);
    for (QLineEdit *edit : {Rig1Edit, Rig2Edit})
        edit->setPlaceholderText("host:port");

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TRigSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TRigSettingsDialog::reject);

    auto *layout = new QFormLayout(this);
    layout->addRow("Rig1 (rigctld)", Rig1Edit);
    layout->addRow("Rig2 (rigctld)", Rig2Edit);
    layout->addRow(buttons);
}

void TRigSettingsDialog::accept()
{
    const QString rig1 = Rig1Edit->text().trimmed();
    const QString rig2 = Rig2Edit->text().trimmed();
    for (const auto &[name, text, edit] : {std::tuple{"Rig1", rig1, Rig1Edit}, std::tuple{"Rig2", rig2, Rig2Edit}}) {
        if (!TRigAddress::Parse(text)) {
            Dialogs::ShowMessage(InvalidAddress(name, text));
            edit->setFocus();
            return;
        }
    }
    // A file that cannot be written is reported and the dialog stays open.
    bool written = false;
    ErrorReport::Guarded([&] {
        TIniFile ini(FConfigFileName);
        ini.WriteString(OmniRig::Section, OmniRig::Rig1Key, TRigAddress::Parse(rig1)->ToString());
        ini.WriteString(OmniRig::Section, OmniRig::Rig2Key, TRigAddress::Parse(rig2)->ToString());
        written = true;
    });
    if (written)
        QDialog::accept();
}

void TRigSettingsDialog::AddPttTest(TKeyingThread &keying, TTestOutput output)
{
    TestButton = new TPttTestButton(keying, [this, output = std::move(output)] {
        const QString text = Rig1Edit->text().trimmed();
        const auto address = TRigAddress::Parse(text);
        if (!address)
            throw Exception(InvalidAddress("Rig1", text));
        return output(address->ToString());
    }, this);
    auto *row = new QHBoxLayout;
    row->addWidget(TestButton);
    row->addWidget(TestButton->Lamp);
    row->addStretch();
    TestButton->Lamp->setFixedSize(14, 14);
    auto *form = static_cast<QFormLayout *>(layout());
    // Above OK and Cancel.
    form->insertRow(form->rowCount() - 1, "Rig1", row);
    form->insertRow(form->rowCount() - 1, TestButton->Words);
    connect(this, &QDialog::finished, TestButton, &TPttTestButton::Stop);
}

bool ShowRigSettingsDialog(const QString &configFileName, QWidget *parent,
                           const std::function<void(TRigSettingsDialog &dialog)> &prepare)
{
    TRigSettingsDialog dialog(configFileName, parent);
    if (prepare)
        prepare(dialog);
    return dialog.exec() == QDialog::Accepted;
}

// Defined beside the dialog, so that the client's own unit needs no widgets.
void IOmniRigX::SetDialogVisible(bool visible, const TPrepareDialog &prepare)
{
    if (!visible || !ShowRigSettingsDialog(FConfigFileName, nullptr, prepare))
        return;
    const TIniFile ini(FConfigFileName);
    FRig1 = std::make_unique<IRigX>(ini.ReadString(OmniRig::Section, OmniRig::Rig1Key, OmniRig::Rig1Default));
    FRig2 = std::make_unique<IRigX>(ini.ReadString(OmniRig::Section, OmniRig::Rig2Key, OmniRig::Rig2Default));
}
