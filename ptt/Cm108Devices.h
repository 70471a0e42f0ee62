#pragma once
#include <QString>
#include <vector>

// The hidraw devices of CM108-family sound cards, found through sysfs as the
// kernel lays it out: /sys/class/hidraw/hidrawN/device is the HID device,
// named "BUS:VENDOR:PRODUCT.N"; its parent is the USB interface and that one's
// parent the USB device, which the card's sound interface shares
// (/sys/class/sound/cardN/device is that sound interface).
struct TCm108Device {
    QString Hidraw;    // "hidraw2"
    QString UsbDevice; // the USB device's sysfs folder, symlinks resolved
};

// A port name that keys a CM108 GPIO pin: "CM108" (the card being captured
// from) or a hidraw device ("/dev/hidraw2", "hidraw2").
bool IsCm108PortName(const QString &name);

// Every CM108-family hidraw device under sysfsRoot ("/sys"), by hidraw number.
// The family: C-Media (vendor 0d8c) and SSS (0c76) chips of any product, since
// makers program the product number, and the AIOC cable (1209:7388).
std::vector<TCm108Device> FindCm108Devices(const QString &sysfsRoot);

// The hidraw device ("hidraw2") on the same USB device as a sound card, or
// empty. card: the ALSA card number ("1"), or the card's sysfs path
// ("/devices/.../sound/card1"), as sound servers describe their devices.
QString Cm108OfSoundCard(const QString &sysfsRoot, const QString &card);

// The hidraw device "CM108" stands for: the one on the captured card when the
// card is known, otherwise the only one there is; empty when there is none
// (or several, and no card to choose by).
QString ResolveCm108(const QString &sysfsRoot, const QString &capturedCard);
