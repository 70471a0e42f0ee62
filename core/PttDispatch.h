#pragma once
#include "ptt/KeyedOutputs.h"

#include <QString>
#include <QStringList>
#include <memory>

// Where PTT goes and what must still be released. It belongs to the keying
// core's thread: the window chooses the output and hands it over.
class TPttDispatch {
public:
    using TOutput = std::shared_ptr<TPttOutput>;

    // The output of the selected mode; none for a mode without output.
    void Select(TOutput output) { FSelected = std::move(output); }
    const TOutput &Selected() const { return FSelected; }

    // On goes to the selected output; off to every output that may be keyed
    // (a test's too, which it ends) and to the selected one even if it never
    // was. A failure that persists comes back with every keying and every
    // retried release: the first of a run of failures of one direction is
    // raised as it is, the rest as EAbort.
    void Send(bool on);
    // A test keys output beside PTT until it is switched off or every output
    // is released; until then no retry releases it. Raises the output's error.
    void Test(const TOutput &output, bool on);
    const TOutput &Testing() const { return FTesting; }
    // Every output but keep (the one PTT is on at now) and a test's released
    // again. Names the outputs that have owed their release for a second,
    // each once per run of failures, in `unconfirmed`.
    void RetryReleases(const TOutput &keep, QStringList &unconfirmed);
    // Every output that may be keyed released (a test's too), and nothing else.
    void ReleaseKeyed()
    {
        FTesting = nullptr;
        FKeyed.ReleaseAll();
    }
    // Whether an output other than keep and a test's still has to be released.
    bool Owed(const TOutput &keep);
    // Program end: releases in progress get until the deadline.
    void Settle(TPttOutput::TDeadline deadline) { FKeyed.Settle(deadline); }

private:
    template <class F> void Throttled(bool on, F &&command);

    TKeyedOutputs FKeyed;
    TOutput FSelected;
    TOutput FTesting;
    bool FKeyingFails = false;
    bool FReleaseFails = false;
    QStringList FUnconfirmed;
};

// The output of a mode whose transport could not be set up (rig control
// without its daemon): keying raises the set-up's error, a release has
// nothing to do.
class TUnavailableOutput : public TPttOutput {
public:
    explicit TUnavailableOutput(QString error) : FError(std::move(error)) {}
    QString Name() const override { return {}; }
    void Switch(bool on) override;
    bool MayBeKeyed() const override { return false; }

private:
    QString FError;
};
