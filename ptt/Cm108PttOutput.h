#pragma once
#include "ptt/PttLines.h"
#include "ptt/PttOutput.h"

#include <array>

// PTT on a GPIO pin of a CM108-family USB sound card (CM108, CM108AH, CM119,
// SSS1621/1623, and the AIOC cable, which speaks the same reports), through
// the card's hidraw device.
//
// Each switch writes one HID output report: the report number 0 (the chips
// have a single output report, and hidraw takes the number as the first
// byte), then the chip's four output bytes as the C-Media data sheets lay
// them out: 0x00 (bits 7-6 = 00: write the GPIO pins), the GPIO data byte
// (bit n-1 is GPIOn), the GPIO direction byte (1 = output), 0x00.
class TCm108PttOutput : public TPttOutput {
public:
    // name: the port name as the user gave it; devicePath: the hidraw device.
    TCm108PttOutput(QString name, QString devicePath, TPttPin pin);
    ~TCm108PttOutput() override;
    TCm108PttOutput(const TCm108PttOutput &) = delete;
    TCm108PttOutput &operator=(const TCm108PttOutput &) = delete;

    // Opens the device and sets the pin to its idle level at once. Raises
    // EComPort code 1 with the system's error number and its advice.
    void Open();
    QString Name() const override { return FName; }
    // Raises EComPort code 2 when the report cannot be written.
    void Switch(bool on) override;
    bool MayBeKeyed() const override { return FMayBeKeyed; }

    const QString &DevicePath() const { return FDevicePath; }
    // The report that puts the pin at the level for on.
    static std::array<unsigned char, 5> Report(const TPttPin &pin, bool on);

private:
    void Write(bool on);

    QString FName;
    QString FDevicePath;
    TPttPin FPin;
    int FHandle = -1;
    bool FMayBeKeyed = false;
};
