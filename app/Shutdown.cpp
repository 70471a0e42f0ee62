#include "app/KOTARUnit.h"

#include "audio/bass.h"
#include "support/Dialogs.h"
#include "support/ErrorReport.h"

#include <QCloseEvent>
#include <QCoreApplication>

void TFormPlayer::FormClose()
{
    BASS_Free();
    WriteINI();
}

void TFormPlayer::closeEvent(QCloseEvent *event)
{
    // Whatever closes the window, the transmitter is released first. A failure
    // there or a configuration that cannot be written is reported, and the
    // window still closes: the program must always be able to end.
    ErrorReport::Guarded([this] { TxRig(false); });
    ErrorReport::Guarded([this] { FormClose(); });
    event->accept();
}

void TFormPlayer::ExitClick()
{
    if (!Dialogs::ConfirmOkCancel("Do you really want to exit?", "Warning!"))
        return;
    RemoveTrayIcon();
    QCoreApplication::processEvents();
    ErrorReport::Guarded([this] { WriteINI(); });
    BASS_Free();
    close();
    Terminate();
}

void TFormPlayer::ShutdownBySignal()
{
    // No one may be there to answer a message box: ending every event loop
    // first closes one that is open and lets none wait during the close.
    QCoreApplication::exit(0);
    close();
}
