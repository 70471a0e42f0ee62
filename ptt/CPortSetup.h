#pragma once
#include <QDialog>
#include <array>
#include <functional>
#include <memory>

class QGroupBox;
class QPushButton;
class TComComboBox;
class TKeyingThread;
class TPttLines;
class TPttOutput;
class TPttTestButton;

// The serial port setup dialog: one list per port setting, built for one
// showing by TCustomComPort::OpenSetupDialog.
class TComSetupFrm : public QDialog {
public:
    explicit TComSetupFrm(QWidget *parent = nullptr);

    QGroupBox *GroupBox1 = nullptr;
    TComComboBox *Combo1 = nullptr; // port
    TComComboBox *Combo2 = nullptr; // baud rate
    TComComboBox *Combo3 = nullptr; // data bits
    TComComboBox *Combo4 = nullptr; // stop bits
    TComComboBox *Combo5 = nullptr; // parity
    TComComboBox *Combo6 = nullptr; // flow control
    TComComboBox *Combo7 = nullptr; // PTT lines
    QPushButton *Button1 = nullptr; // OK
    QPushButton *Button2 = nullptr; // Cancel
    TPttTestButton *TestButton = nullptr; // with AddPttTest

    // A Test PTT row above OK and Cancel. output: what a press keys for the
    // port and the PTT lines chosen in the lists at that moment.
    using TTestOutput = std::function<std::shared_ptr<TPttOutput>(const QString &port, const TPttLines &lines)>;
    void AddPttTest(TKeyingThread &keying, TTestOutput output);

    // The lists in binding and applying order.
    std::array<TComComboBox *, 7> Combos() const { return {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6, Combo7}; }
};
