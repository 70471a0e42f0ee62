#include "app/KOTARUnit.h"

#include "audio/bass.h"
#include "support/Dialogs.h"
#include "support/ErrorReport.h"
#include "support/StandardError.h"

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
    // Released first, then the streams stopped (the close handler frees the
    // audio library), then the window goes. Relayed sound still queued at the
    // output is dropped as PTT falls, not played on after it.
    HushRelay();
    Keying->Stop(ReleasePatience);
    ErrorReport::Guarded([this] { FormClose(); });
    event->accept();
}

void TFormPlayer::ExitClick()
{
    if (!Dialogs::ConfirmOkCancel("Do you really want to exit?", "Warning!"))
        return;
    RemoveTrayIcon();
    QCoreApplication::processEvents();
    // A refused write is reported once, by the close below, which writes again.
    try {
        WriteINI();
    } catch (const std::exception &) {
    }
    // The output falls silent here, not after PTT has fallen in the close.
    HushRelay();
    BASS_Free();
    close();
    Dialogs::WaitForErrors();
    Terminate();
}

void TFormPlayer::ShutdownBySignal()
{
    // Nobody may be there to answer a box: what would be shown goes to the
    // standard error, and the process ends even if a dialog is open.
    Dialogs::SetHooks({
        WriteStandardError,
        [](const QString &, const QString &) { return false; },
        [](const QString &, const QString &text) { WriteStandardError(text); },
    });
    close();
    Terminate();
}
