#include "ptt/KeyedOutputs.h"

#include <QScopeGuard>
#include <algorithm>
#include <exception>
#include <iterator>

void TKeyedOutputs::Prune()
{
    std::erase_if(FMembers, [](const TOutput &member) { return member->Settled(); });
}

void TKeyedOutputs::Key(const TOutput &output)
{
    if (std::find(FMembers.begin(), FMembers.end(), output) == FMembers.end())
        FMembers.push_back(output);
    // An output that keyed nothing (a port not open) leaves again.
    const auto prune = qScopeGuard([this] { Prune(); });
    output->Switch(true);
}

namespace {
bool Kept(TKeyedOutputs::TKept keep, const TKeyedOutputs::TOutput &member)
{
    return std::find(keep.begin(), keep.end(), member) != keep.end();
}
} // namespace

void TKeyedOutputs::ReleaseMembers(TKept keep, const TOutput &also)
{
    std::exception_ptr failure;
    // A copy: a release may report, and a report runs the event loop.
    const std::vector<TOutput> members = FMembers;
    for (const TOutput &member : members) {
        // A member only watched is not keyed: nothing is sent to it.
        if (Kept(keep, member) || (member != also && !member->MayBeKeyed()))
            continue;
        try {
            member->Switch(false);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    Prune();
    if (failure)
        std::rethrow_exception(failure);
}

void TKeyedOutputs::ReleaseAll(const TOutput &also)
{
    if (also && std::find(FMembers.begin(), FMembers.end(), also) == FMembers.end())
        FMembers.push_back(also);
    ReleaseMembers({}, also);
}

void TKeyedOutputs::ReleaseAllBut(TKept keep) { ReleaseMembers(keep, nullptr); }

void TKeyedOutputs::Release(const TOutput &output)
{
    const auto prune = qScopeGuard([this] { Prune(); });
    if (output->MayBeKeyed())
        output->Switch(false);
}

bool TKeyedOutputs::Owed(TKept keep) { return !Owing(keep).empty(); }

std::vector<TKeyedOutputs::TOutput> TKeyedOutputs::Owing(TKept keep)
{
    Prune();
    std::vector<TOutput> owing;
    std::copy_if(FMembers.begin(), FMembers.end(), std::back_inserter(owing),
                 [&](const TOutput &member) { return !Kept(keep, member) && member->MayBeKeyed(); });
    return owing;
}

void TKeyedOutputs::Settle(TPttOutput::TDeadline deadline)
{
    for (const TOutput &member : FMembers)
        member->Settle(deadline);
    Prune();
}
