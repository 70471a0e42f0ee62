#include "core/PttDispatch.h"

#include "support/Exception.h"

template <class F> void TPttDispatch::Throttled(bool on, F &&command)
{
    bool &failing = on ? FKeyingFails : FReleaseFails;
    try {
        command();
    } catch (const Exception &) {
        if (failing)
            throw EAbort();
        failing = true;
        throw;
    }
    failing = false;
}

void TPttDispatch::Send(bool on)
{
    Throttled(on, [&] {
        if (on) {
            if (FSelected)
                FKeyed.Key(FSelected);
            return;
        }
        FKeyed.ReleaseAll(FSelected);
    });
}

void TPttDispatch::RetryReleases(const TOutput &keep, QStringList &unconfirmed)
{
    QStringList owing;
    for (const auto &output : FKeyed.Owing(keep)) {
        owing << output->Name();
        if (!FUnconfirmed.contains(owing.last()))
            unconfirmed << owing.last();
    }
    FUnconfirmed = owing;
    Throttled(false, [&] { FKeyed.ReleaseAllBut(keep); });
}

bool TPttDispatch::Owed(const TOutput &keep)
{
    const bool owed = FKeyed.Owed(keep);
    if (!owed)
        FUnconfirmed.clear();
    return owed;
}

void TUnavailableOutput::Switch(bool on)
{
    if (on)
        throw Exception(FError);
}
