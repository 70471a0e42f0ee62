#include "app/KOTARUnit.h"

#include "ptt/OmniRig_TLB.h"
#include "ptt/RigSettingsDialog.h"
#include "ptt/RigctldConnection.h"
#include "support/Dialogs.h"
#include "support/ErrorReport.h"

#include <QRadioButton>

void TFormPlayer::CreateOmniRigClient()
{
    OmniRigClient = nullptr;
    if (!PTT_OmniRig->isChecked())
        return;
    // A server that refuses the rig types must not end the start-up: it is
    // reported and the program goes on without a client.
    ErrorReport::Guarded([this] { OmniRigClient = SetupOmniRig(); });
}

TOmniRigX *TFormPlayer::SetupOmniRig()
{
    TOmniRigX *client = nullptr;
    try {
        client = new TOmniRigX(this, ConfigFileName);
        client->Connect();
    } catch (const Exception &failure) {
        // Nothing refers to the unconnected client; it need not wait for the
        // window to go.
        delete client;
        // The fixed message and trace line first; each daemon's failure
        // (its address and the reason) goes on a line of its own.
        Dialogs::ShowMessage("Error while loading OmniRig driver\n" + failure.Message());
        TraceLog.Write(1, "OmniRig error while being created");
        for (const QString &line : failure.Message().split('\n'))
            TraceLog.Write(1, line);
        PTT_None->setChecked(true); // runs PTT_NoneClick
        return nullptr;
    }
    Rig1RadioButton->setText(OmniRig::RigCaption(client->Rig1()->RigType()));
    Rig2RadioButton->setText(OmniRig::RigCaption(client->Rig2()->RigType()));
    return client;
}

void TFormPlayer::DialogVisible()
{
    // Test PTT keys rig 1: through the client's own link while the dialog
    // shows the address it uses, else through a link made for the address.
    const auto prepare = [this](TRigSettingsDialog &dialog) {
        dialog.AddPttTest(*Keying, [this](const QString &address) -> std::shared_ptr<TPttOutput> {
            if (OmniRigClient) {
                IRigX *rig = OmniRigClient->Rig1();
                const auto inUse = TRigAddress::Parse(rig->Link().Address());
                if (inUse && inUse->ToString() == address)
                    return rig->Output();
            }
            return std::make_shared<TRigLink>(address);
        });
    };
    if (OmniRigClient)
        OmniRigClient->SetDialogVisible(true, prepare);
    else
        ShowRigSettingsDialog(ConfigFileName, this, prepare);
}
