#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

class QLineEdit;
class TKeyingThread;
class TPttOutput;
class TPttTestButton;

// Stands in for the rig-control server's own settings dialog: the addresses of
// the two rigctld daemons, written to section "OMNIRIG" of the configuration
// file on OK. An invalid address is refused with a message and the dialog
// stays open.
class TRigSettingsDialog : public QDialog {
public:
    explicit TRigSettingsDialog(QString configFileName, QWidget *parent = nullptr);

    QLineEdit *Rig1Edit = nullptr;
    QLineEdit *Rig2Edit = nullptr;
    TPttTestButton *TestButton = nullptr; // with AddPttTest

    // A Test PTT row for rig 1. output: what a press keys for the address
    // in Rig1Edit at that moment (valid, as host:port).
    using TTestOutput = std::function<std::shared_ptr<TPttOutput>(const QString &address)>;
    void AddPttTest(TKeyingThread &keying, TTestOutput output);

    void accept() override;

private:
    QString FConfigFileName;
};

// Runs the dialog modally; true when confirmed. Needs no client, so the menus
// can offer it in every PTT mode.
bool ShowRigSettingsDialog(const QString &configFileName, QWidget *parent = nullptr,
                           const std::function<void(TRigSettingsDialog &dialog)> &prepare = {});
