#include "app/OptionsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

TOptionsDialog::TOptionsDialog(const TValues &values, const QList<TOutput> &outputs, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle("Options");
    FRows = new QFormLayout(this);

    TimeoutEdit = new QSpinBox(this);
    TimeoutEdit->setRange(0, 86400);
    TimeoutEdit->setSuffix(" s");
    TimeoutEdit->setSpecialValueText("none");
    TimeoutEdit->setValue(values.Timeout);
    TimeoutEdit->setToolTip("A transmission that lasts this long is ended; the VOX waits for a quiet moment before\n"
                            "it keys again (INI key TIMEOUT; 0 = none)");
    FRows->addRow("Transmit &time-out:", TimeoutEdit);

    AttackBox = new QComboBox(this);
    AttackBox->addItem("Tick (every 33 ms)", false);
    AttackBox->addItem("Block (every 5 ms)", true);
    AttackBox->setCurrentIndex(values.AttackByBlock ? 1 : 0);
    AttackBox->setToolTip("When a loud sound keys: at the next display tick, or at the first loud captured block,\n"
                          "up to 28 ms sooner (INI key ATTACK)");
    FRows->addRow("&Attack:", AttackBox);

    // The relay output by description, loops left out; a configured one that
    // is not offered stays selectable, so OK does not lose it.
    RelayBox = new QComboBox(this);
    RelayBox->addItem("none", QString());
    for (const TOutput &output : outputs)
        if (!output.Loop)
            RelayBox->addItem(output.Description, output.Name);
        else if (output.Name == values.RelayOutput)
            RelayBox->addItem(output.Description + " (refused: its sound reaches the recording)", output.Name);
    if (!values.RelayOutput.isEmpty() && RelayBox->findData(values.RelayOutput) < 0)
        RelayBox->addItem(values.RelayOutput + " (not present)", values.RelayOutput);
    RelayBox->setCurrentIndex(std::max(0, RelayBox->findData(values.RelayOutput)));
    RelayBox->setToolTip("Plays the captured sound into this sound output, delayed by the lead, while PTT is on\n"
                         "(INI key RELAY; none: no relay). Outputs whose sound would come back to the\n"
                         "recording device are not offered");
    FRows->addRow("Audio &relay to:", RelayBox);

    LeadEdit = new QSpinBox(this);
    LeadEdit->setRange(0, 1000);
    LeadEdit->setSuffix(" ms");
    LeadEdit->setValue(values.RelayLead);
    LeadEdit->setToolTip("How long PTT is up before the relayed sound reaches the output (INI key LEAD)");
    FRows->addRow("&Lead:", LeadEdit);
    const auto leadFollowsRelay = [this] { LeadEdit->setEnabled(RelayBox->currentIndex() > 0); };
    connect(RelayBox, &QComboBox::currentIndexChanged, this, leadFollowsRelay);
    leadFollowsRelay();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    FRows->addRow(buttons);
}

TOptionsDialog::TValues TOptionsDialog::Values() const
{
    return {TimeoutEdit->value(), AttackBox->currentData().toBool(), RelayBox->currentData().toString(),
            LeadEdit->value()};
}
