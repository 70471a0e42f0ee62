#pragma once
#include <QPushButton>
#include <functional>
#include <memory>

class QLabel;
class TKeyingThread;
class TLed;
class TPttOutput;

// "Test PTT": keys an output through the keying engine for as long as it is
// held (the engine ends a test after a few seconds). The red lamp beside it
// and the words under it show what the engine reports, so nothing keys that
// the engine does not know of.
class TPttTestButton : public QPushButton {
public:
    using TOutput = std::shared_ptr<TPttOutput>;

    // output: what a press keys, made at the press; it raises Exception with
    // the words to show when there is nothing to key. The lamp and the words
    // are the parent's, for it to place.
    TPttTestButton(TKeyingThread &keying, std::function<TOutput()> output, QWidget *parent);
    // Ends a test held.
    ~TPttTestButton() override;

    TLed *Lamp = nullptr;
    QLabel *Words = nullptr;

    // The test ends (the button let go, the dialog closing).
    void Stop();

private:
    void Start();

    TKeyingThread &FKeying;
    std::function<TOutput()> FOutput;
    TOutput FTested;
    QMetaObject::Connection FReports;
};
