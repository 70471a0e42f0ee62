#include "app/StateIcons.h"

#include "app/KOTARUnit.h"
#include "support/Led1.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QPixmap>

// The resources live in the static core library; nothing else references their
// object file, so it is registered by hand before the first look-up.
static void RegisterIconResources() { Q_INIT_RESOURCE(icons); }

QIcon LoadIconResource(const QString &name)
{
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
    const QPixmap picture(":/" + name);
    return picture.isNull() ? QIcon() : QIcon(picture);
}

void TFormPlayer::CreateStateIcons()
{
    IconIDLE = LoadIconResource("kotar_IDLE");
    IconMUTE = LoadIconResource("kotar_MUTE");
    IconOFF = LoadIconResource("kotar_OFF");
    IconON = LoadIconResource("kotar_ON");
    IconTOUT = LoadIconResource("kotar_TOUT");
}

// The keying engine asks for its icon at every step (with ATTACK=BLOCK every
// 5 ms block); each icon set is work for the X server, the window manager and
// the tray, so only an icon that differs from the one shown is set.
void TFormPlayer::ChangeStateIcon(const QIcon &state)
{
    FStateIcon = state;
    const QIcon icon = FReleaseOwed ? IconON : state;
    const qint64 key = icon.cacheKey();
    if (QApplication::windowIcon().cacheKey() != key)
        QApplication::setWindowIcon(icon);
    if (windowIcon().cacheKey() != key)
        setWindowIcon(icon);
    if (TrayIcon && TrayIcon->icon().cacheKey() != key)
        TrayIcon->setIcon(icon);
}

void TFormPlayer::SetVoxLed(bool on)
{
    FVoxLedOn = on;
    VOXLed->SetOn(on || FReleaseOwed);
}

void TFormPlayer::ShowReleaseOwed(bool owed)
{
    if (owed == FReleaseOwed)
        return;
    FReleaseOwed = owed;
    SetVoxLed(FVoxLedOn);
    ChangeStateIcon(QIcon(FStateIcon));
}

void TFormPlayer::ShowIdleIcon() { ChangeStateIcon(IconIDLE); }
