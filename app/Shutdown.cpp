#include "app/KOTARUnit.h"

#include "audio/bass.h"
#include "ptt/OmniRig_TLB.h"
#include "support/Dialogs.h"
#include "support/ErrorReport.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <cstdio>

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
    if (OmniRigClient)
        OmniRigClient->Settle(std::chrono::steady_clock::now() + std::chrono::seconds(2));
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
    // Nobody may be there to answer a box: what would be shown goes to the
    // standard error, and the process ends even if a dialog is open.
    const auto toStandardError = [](const QString &text) { std::fprintf(stderr, "kotarplus: %s\n", qPrintable(text)); };
    Dialogs::SetHooks({
        toStandardError,
        [](const QString &, const QString &) { return false; },
        [toStandardError](const QString &, const QString &text) { toStandardError(text); },
    });
    close();
    Terminate();
}
