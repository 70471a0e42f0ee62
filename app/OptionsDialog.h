#pragma once
#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QFormLayout;
class QSpinBox;

// The settings beyond the window's controls, one row each: transmit time-out,
// attack, relay output and lead. The dialog only edits values; whoever opens
// it stores and applies them.
class TOptionsDialog : public QDialog {
public:
    struct TValues {
        int Timeout = 0;            // TIMEOUT, seconds; 0: none
        bool AttackByBlock = false; // ATTACK=BLOCK
        QString RelayOutput;        // RELAY, a sink's server name; empty: no relay
        int RelayLead = 60;         // LEAD, ms
    };
    // An output of the server: its name, its description, and whether its
    // sound reaches the recorded device (a loop: not offered).
    struct TOutput {
        QString Name;
        QString Description;
        bool Loop = false;
    };

    TOptionsDialog(const TValues &values, const QList<TOutput> &outputs, QWidget *parent = nullptr);
    TValues Values() const;

    QSpinBox *TimeoutEdit = nullptr;
    QComboBox *AttackBox = nullptr;
    QComboBox *RelayBox = nullptr;
    QSpinBox *LeadEdit = nullptr;

private:
    QFormLayout *FRows = nullptr;
};
