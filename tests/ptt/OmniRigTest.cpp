#include "RigctldFixture.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "ptt/OmniRig_TLB.h"
#include "ptt/PttTestButton.h"
#include "ptt/RigSettingsDialog.h"
#include "support/Led1.h"
#include "support/IniFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <climits>

#include <gtest/gtest.h>

using OmniRig::PM_RX;
using OmniRig::PM_TX;

TEST(OmniRigText, CaptionIsNoneForAnyTypeContainingNone)
{
    for (const char *type : {"NONE", "none", "NoNe", "Hamlib NONEXISTENT", "xnonex"})
        EXPECT_EQ(OmniRig::RigCaption(type), "NONE") << type;
    for (const char *type : {"Hamlib Dummy", "hamlib dummy", "NON E", ""})
        EXPECT_EQ(OmniRig::RigCaption(type), type);
}

TEST(OmniRigText, HamlibTextsForStatusCodes)
{
    EXPECT_EQ(OmniRig::ErrorText(-1), "Invalid parameter");
    EXPECT_EQ(OmniRig::ErrorText(-11), "Feature not available");
    EXPECT_EQ(OmniRig::ErrorText(-10), "Command performed, but arg truncated, result not guaranteed");
    EXPECT_EQ(OmniRig::ErrorText(-20), "Rig is not powered on");
    EXPECT_EQ(OmniRig::ErrorText(-21), "OLE error ffffffeb");
    EXPECT_EQ(OmniRig::ErrorText(INT_MIN), "OLE error 80000000");
}

TEST(OmniRigEvents, HooksReceiveEventsByDispatchId)
{
    TOmniRigX client(nullptr, "unused.ini");
    QStringList seen;
    client.OnVisibleChange = [&](TOmniRigX *sender) { seen << QString("visible %1").arg(sender == &client); };
    client.OnParamsChange = [&](TOmniRigX *, qint32 rig, qint32 params) { seen << QString("params %1 %2").arg(rig).arg(params); };
    client.OnCustomReply = [&](TOmniRigX *, qint32 rig, const QVariant &command, const QVariant &reply) {
        seen << QString("custom %1 %2 %3").arg(rig).arg(command.toString(), reply.toString());
    };
    client.InvokeEvent(1, {});
    client.InvokeEvent(4, {2, PM_TX});
    client.InvokeEvent(5, {1, "FA;", "FA00014074000;"});
    client.InvokeEvent(2, {1}); // no hook set
    client.InvokeEvent(9, {1});
    EXPECT_EQ(seen, QStringList({"visible 1", "params 2 4194304", "custom 1 FA; FA00014074000;"}));
    EXPECT_EQ(client.ConnectKind(), ckRunningOrNew);
    EXPECT_FALSE(client.Connected());
}

class OmniRigClientTest : public ::testing::Test {
protected:
    TemporaryWorkDir work;
    RecordedDialogs dialogs;

    QString Ini() const { return work.file("KOTARPlus.INI"); }
    std::unique_ptr<TFormPlayer> MakeForm(const QString &rig1, const QString &rig2)
    {
        WriteText(Ini(), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/tty\n[OMNIRIG]\nRIG1=" + rig1 + "\nRIG2=" + rig2 + "\n");
        auto form = std::make_unique<TFormPlayer>(QStringList());
        form->PTT_OmniRig->setChecked(true);
        return form;
    }
    // An address where nothing listens: a daemon's port after it stopped.
    static QString DeadAddress()
    {
        TRigctldDaemon daemon;
        return daemon.Address();
    }
    // What a rig whose daemon is not running reports.
    static QString Refused(const QString &address)
    {
        return "Rig-control server " + address
               + " does not answer (Connection refused); start rigctld there or correct the address in OmniRig Settings";
    }
    // Sets Tx and waits until the rig's link has carried it out (a release
    // that fails keeps it trying until the deadline).
    static void Tx(IRigX *rig, qint32 value, int settleMs = 5000)
    {
        rig->SetTx(value);
        rig->Output()->Settle(std::chrono::steady_clock::now() + std::chrono::milliseconds(settleMs));
    }
    // The reports posted so far, as the user sees them.
    QStringList Reports()
    {
        QCoreApplication::sendPostedEvents();
        return dialogs.errors;
    }
};

TEST_F(OmniRigClientTest, CaptionsBothRigsAndKeysOnlyTheChosenOne)
{
    TRigctldDaemon rig1, rig2;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    form->CreateOmniRigClient();
    ASSERT_NE(form->OmniRigClient, nullptr);
    EXPECT_EQ(form->Rig1RadioButton->text(), "Hamlib Dummy");
    EXPECT_EQ(form->Rig2RadioButton->text(), "Hamlib Dummy");

    Tx(form->OmniRigClient->Rig1(), PM_TX);
    EXPECT_EQ(rig1.PttState(), "1");
    EXPECT_EQ(rig2.PttState(), "0");
    Tx(form->OmniRigClient->Rig1(), PM_TX); // repeated at every keying tick
    Tx(form->OmniRigClient->Rig1(), PM_RX);
    EXPECT_EQ(rig1.PttState(), "0");

    Tx(form->OmniRigClient->Rig2(), PM_TX);
    EXPECT_EQ(rig2.PttState(), "1");
    EXPECT_EQ(rig1.PttState(), "0");
    Tx(form->OmniRigClient->Rig2(), PM_RX);
    EXPECT_EQ(rig2.PttState(), "0");
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(Reports().isEmpty());
}

TEST_F(OmniRigClientTest, RigWithoutDaemonReadsNoneAndTheOtherStillKeys)
{
    TRigctldDaemon rig1;
    const QString dead = DeadAddress();
    auto form = MakeForm(rig1.Address(), dead);
    form->OmniRigClient = form->SetupOmniRig();
    ASSERT_NE(form->OmniRigClient, nullptr);
    EXPECT_EQ(form->Rig1RadioButton->text(), "Hamlib Dummy");
    EXPECT_EQ(form->Rig2RadioButton->text(), "NONE");
    Tx(form->OmniRigClient->Rig1(), PM_TX);
    EXPECT_EQ(rig1.PttState(), "1");
    Tx(form->OmniRigClient->Rig2(), PM_TX);
    EXPECT_EQ(Reports(), QStringList("KOTARPlus|" + Refused(dead) + "."));
    Tx(form->OmniRigClient->Rig1(), PM_RX);
    EXPECT_EQ(rig1.PttState(), "0");
}

TEST_F(OmniRigClientTest, NoDaemonAnsweringSelectsModeNone)
{
    const QString dead = DeadAddress();
    auto form = MakeForm(dead, "[::1]:9"); // the second also refuses
    const int instances = TOmniRigX::InstanceCount();
    form->CreateOmniRigClient();
    EXPECT_EQ(form->OmniRigClient, nullptr);
    // The fixed message and trace line, then each daemon and why.
    const QStringList shown = dialogs.messages.value(0).split('\n');
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0], "Error while loading OmniRig driver");
    EXPECT_EQ(shown[1], Refused(dead));
    EXPECT_TRUE(shown[2].startsWith("Rig-control server [::1]:9 does not answer (")) << shown[2].toStdString();
    const QStringList trace = TraceMessages(work.file("KOTARPlus.Log"));
    EXPECT_EQ(trace.mid(trace.indexOf("OmniRig error while being created"), 3),
              QStringList({"OmniRig error while being created", shown[1], shown[2]}));
    EXPECT_TRUE(form->PTT_None->isChecked());
    EXPECT_FALSE(form->PTT_OmniRig->isChecked());
    EXPECT_EQ(form->Rig1RadioButton->text(), "Rig1");
    EXPECT_EQ(TOmniRigX::InstanceCount(), instances);
}

TEST_F(OmniRigClientTest, ChoosingTheModeAgainKeepsTheEarlierClient)
{
    TRigctldDaemon rig1, rig2;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    TOmniRigX *first = form->SetupOmniRig();
    TOmniRigX *second = form->SetupOmniRig();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->parent(), form.get());
    EXPECT_EQ(second->parent(), form.get());
    EXPECT_TRUE(first->Connected());
    Tx(first->Rig1(), PM_TX);
    Tx(second->Rig1(), PM_RX);
    EXPECT_EQ(rig1.PttState(), "0");
}

TEST_F(OmniRigClientTest, KeyedRigIsStillReleasedThroughItsOutputAfterTheClientWent)
{
    TRigctldDaemon rig1, rig2;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    TOmniRigX *client = form->SetupOmniRig();
    ASSERT_NE(client, nullptr);
    const std::shared_ptr<TPttOutput> output = client->Rig1()->Output();
    Tx(client->Rig1(), PM_TX);
    ASSERT_EQ(rig1.PttState(), "1");
    form.reset();
    EXPECT_TRUE(output->MayBeKeyed());
    output->Switch(false);
    output->Settle(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    EXPECT_FALSE(output->MayBeKeyed());
    EXPECT_EQ(rig1.PttState(), "0");
}

TEST_F(OmniRigClientTest, RefusalRaisesHamlibText)
{
    TRigctldDaemon rig1(false); // the dummy refuses PTT without "-P RIG"
    TRigctldDaemon rig2;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    TOmniRigX *client = form->SetupOmniRig();
    ASSERT_NE(client, nullptr);
    Tx(client->Rig1(), PM_TX);
    // Hamlib 4.5 answers "RPRT -1" here; other versions "RPRT -11".
    const QString remedy = "\nRig-control server " + rig1.Address() + ": start rigctld with -P RIG (or the PTT type of your interface)";
    const QStringList texts{"KOTARPlus|Invalid parameter." + remedy, "KOTARPlus|Feature not available." + remedy};
    ASSERT_EQ(Reports().size(), 1);
    EXPECT_TRUE(texts.contains(Reports().first())) << Reports().first().toStdString();
    // The refusal left the connection usable: the release is refused too, and
    // reported once however often it is asked for again.
    Tx(client->Rig1(), PM_RX, 1500);
    EXPECT_EQ(Reports().size(), 2);
    EXPECT_TRUE(texts.contains(Reports().last()));
    EXPECT_THROW(client->Rig1()->SetTx(0x12345), EOleException);
}

TEST_F(OmniRigClientTest, LostDaemonRaisesAtOnceAndTheNextCallReconnects)
{
    TRigctldDaemon rig1, rig2;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    TOmniRigX *client = form->SetupOmniRig();
    ASSERT_NE(client, nullptr);
    Tx(client->Rig1(), PM_RX);

    rig1.Kill();
    QElapsedTimer clock;
    clock.start();
    Tx(client->Rig1(), PM_TX);
    EXPECT_LT(clock.elapsed(), 3000); // not a hang
    EXPECT_EQ(Reports(), QStringList("KOTARPlus|" + Refused(rig1.Address()) + "."));

    rig1.Restart();
    Tx(client->Rig1(), PM_RX);
    Tx(client->Rig1(), PM_TX);
    EXPECT_EQ(rig1.PttState(), "1");

    // A restart between two calls: the dead connection is noticed before
    // anything is sent, so the call itself succeeds.
    rig1.Kill();
    rig1.Restart();
    Tx(client->Rig1(), PM_RX);
    Tx(client->Rig1(), PM_TX);
    EXPECT_EQ(rig1.PttState(), "1");
    EXPECT_EQ(Reports().size(), 1);
    Tx(client->Rig1(), PM_RX);
}

TEST_F(OmniRigClientTest, SilentDaemonTimesOutAndRecovers)
{
    TRigctldDaemon rig1, rig2;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    TOmniRigX *client = form->SetupOmniRig();
    ASSERT_NE(client, nullptr);

    rig1.Pause();
    QElapsedTimer clock;
    clock.start();
    Tx(client->Rig1(), PM_RX);
    EXPECT_EQ(Reports(), QStringList("KOTARPlus|Rig-control server " + rig1.Address()
                                     + " did not answer within 1 second."));
    EXPECT_LT(clock.elapsed(), 3000);
    rig1.Resume();
    Tx(client->Rig1(), PM_TX);
    EXPECT_EQ(rig1.PttState(), "1");
    Tx(client->Rig1(), PM_RX);
}

TEST_F(OmniRigClientTest, MalformedConfiguredAddressIsNeverContacted)
{
    TRigctldDaemon rig2;
    auto form = MakeForm(rig2.Address() + " T 1", rig2.Address());
    TOmniRigX *client = form->SetupOmniRig();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(form->Rig1RadioButton->text(), "NONE");
    Tx(client->Rig1(), PM_TX);
    EXPECT_EQ(Reports(), QStringList("KOTARPlus|Invalid rig-control server address \"" + rig2.Address() + " T 1\""));
    EXPECT_EQ(rig2.PttState(), "0");
}

TEST_F(OmniRigClientTest, DialogVisibleAppliesConfirmedAddresses)
{
    TRigctldDaemon rigA, rigB, rig2;
    auto form = MakeForm(rigA.Address(), rig2.Address());
    TOmniRigX *client = form->SetupOmniRig();
    ASSERT_NE(client, nullptr);
    QTimer::singleShot(0, [&] {
        auto *dialog = dynamic_cast<TRigSettingsDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->Rig1Edit->text(), rigA.Address());
        dialog->Rig1Edit->setText(rigB.Address());
        dialog->accept();
    });
    client->SetDialogVisible(true);
    Tx(client->Rig1(), PM_TX);
    EXPECT_EQ(rigB.PttState(), "1");
    EXPECT_EQ(rigA.PttState(), "0");
    Tx(client->Rig1(), PM_RX);
}

// Test PTT keys rig 1 through the client's link, and an address typed but not
// applied through a link of its own, which its limit releases.
TEST_F(OmniRigClientTest, TestPttKeysRig1AtTheAddressInTheDialog)
{
    TRigctldDaemon rig1, rig2, typed;
    auto form = MakeForm(rig1.Address(), rig2.Address());
    UseSteppedClock(*form);
    const auto reads = [](const TRigctldDaemon &rig, const char *state) {
        for (int i = 0; i < 100 && rig.PttState() != state; ++i)
            QThread::msleep(50);
        return rig.PttState() == state;
    };
    QTimer::singleShot(0, [&] {
        auto *dialog = dynamic_cast<TRigSettingsDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        emit dialog->TestButton->pressed();
        EXPECT_TRUE(dialog->TestButton->Lamp->On());
        EXPECT_TRUE(reads(rig1, "1"));
        emit dialog->TestButton->released();
        EXPECT_TRUE(reads(rig1, "0"));
        dialog->Rig1Edit->setText(typed.Address());
        emit dialog->TestButton->pressed();
        EXPECT_TRUE(reads(typed, "1"));
        PassTime(std::chrono::seconds(5));
        form->TimerTimeoutTimer();
        EXPECT_FALSE(dialog->TestButton->Lamp->On());
        EXPECT_TRUE(reads(typed, "0"));
        dialog->reject();
    });
    form->DialogVisible();
    EXPECT_EQ(rig2.PttState(), "0");
    EXPECT_TRUE(Reports().isEmpty());
}

TEST(RigSettingsDialogTest, ValidatesAndWritesSectionOmniRig)
{
    TemporaryWorkDir work;
    RecordedDialogs dialogs;
    const QString ini = work.file("my.ini");
    WriteText(ini, "[SETTINGS]\nPTT=CAT\n");

    {
        TRigSettingsDialog dialog(ini);
        EXPECT_EQ(dialog.Rig1Edit->text(), "127.0.0.1:4532");
        EXPECT_EQ(dialog.Rig2Edit->text(), "127.0.0.1:4534");
        for (const char *bad : {"", "localhost", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:45a2",
                                "bad host:4532", "host_1:4532", "-host:4532", "[zz::1]:4532", "::1:4532",
                                "127.0.0.1:4532\nT 1", "127.0.0.1:4532;T 1"}) {
            dialog.Rig2Edit->setText(bad);
            dialog.accept();
            EXPECT_NE(dialog.result(), QDialog::Accepted) << bad;
        }
        EXPECT_EQ(dialogs.messages.size(), 12);
        EXPECT_TRUE(dialogs.messages.first().startsWith("Invalid address of Rig2: "));
        EXPECT_EQ(ReadText(ini), "[SETTINGS]\nPTT=CAT\n");

        dialog.Rig1Edit->setText(" rig-pc.local:4600 ");
        dialog.Rig2Edit->setText("[::1]:4601");
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    const TIniFile file(ini);
    EXPECT_EQ(file.ReadString("SETTINGS", "PTT", ""), "CAT");
    EXPECT_EQ(file.ReadString("OMNIRIG", "RIG1", ""), "rig-pc.local:4600");
    EXPECT_EQ(file.ReadString("OMNIRIG", "RIG2", ""), "[::1]:4601");
    TRigSettingsDialog again(ini);
    EXPECT_EQ(again.Rig1Edit->text(), "rig-pc.local:4600");
    EXPECT_EQ(again.Rig2Edit->text(), "[::1]:4601");
    EXPECT_TRUE(dialogs.errors.isEmpty());
}
