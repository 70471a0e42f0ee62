#include "ptt/PttTestButton.h"

#include "core/KeyingThread.h"
#include "support/Exception.h"
#include "support/Led1.h"

#include <QLabel>
#include <utility>

TPttTestButton::TPttTestButton(TKeyingThread &keying, std::function<TOutput()> output, QWidget *parent)
    : QPushButton("Test PTT", parent), FKeying(keying), FOutput(std::move(output))
{
    // Enter stays with the dialog's OK.
    setAutoDefault(false);
    setToolTip(QString("Keys the transmitter while held, for %1 s at most").arg(TKeyingCore::TestLimit.count()));
    Lamp = new TLed(parent);
    Lamp->resize(14, 14);
    Lamp->SetStyle(lsGradient1);
    Lamp->SetColor1(clMaroon);
    Lamp->SetColor2(clRed);
    Lamp->SetOffColor2(clMaroon);
    Words = new QLabel(parent);
    Words->setWordWrap(true);
    Words->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FReports = connect(&keying.Core(), &TKeyingCore::PttTested, this, [this](bool keyed, const QString &words) {
        Lamp->SetOn(keyed);
        Words->setText(words);
    });
    connect(this, &QPushButton::pressed, this, &TPttTestButton::Start);
    connect(this, &QPushButton::released, this, &TPttTestButton::Stop);
}

TPttTestButton::~TPttTestButton()
{
    // The lamp and the words may be gone before the engine answers.
    disconnect(FReports);
    Stop();
}

void TPttTestButton::Start()
{
    Stop();
    try {
        FTested = FOutput();
    } catch (const Exception &failure) {
        Words->setText(failure.Message());
        return;
    }
    FKeying.Post([output = FTested](TKeyingCore &core) { core.TestPtt(output, true); });
}

void TPttTestButton::Stop()
{
    if (!FTested)
        return;
    FKeying.Post([output = std::exchange(FTested, nullptr)](TKeyingCore &core) { core.TestPtt(output, false); });
}
