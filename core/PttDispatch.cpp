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
        FTesting = nullptr;
        FKeyed.ReleaseAll(FSelected);
    });
}

void TPttDispatch::Test(const TOutput &output, bool on)
{
    if (on) {
        FTesting = output;
        FKeyed.Key(output);
        return;
    }
    FTesting = nullptr;
    FKeyed.Release(output);
}

void TPttDispatch::RetryReleases(const TOutput &keep, QStringList &unconfirmed)
{
    QStringList owing;
    for (const auto &output : FKeyed.Owing({keep, FTesting})) {
        owing << output->Name();
        if (!FUnconfirmed.contains(owing.last()))
            unconfirmed << owing.last();
    }
    FUnconfirmed = owing;
    Throttled(false, [&] { FKeyed.ReleaseAllBut({keep, FTesting}); });
}

bool TPttDispatch::Owed(const TOutput &keep)
{
    const bool owed = FKeyed.Owed({keep, FTesting});
    if (!owed)
        FUnconfirmed.clear();
    return owed;
}

void TUnavailableOutput::Switch(bool on)
{
    if (on)
        throw Exception(FError);
}
