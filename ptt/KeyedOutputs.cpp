#include "ptt/KeyedOutputs.h"

#include <QScopeGuard>
#include <algorithm>
#include <exception>

void TKeyedOutputs::Prune()
{
    std::erase_if(FMembers, [](const TOutput &member) { return !member->MayBeKeyed(); });
}

void TKeyedOutputs::Key(const TOutput &output)
{
    if (std::find(FMembers.begin(), FMembers.end(), output) == FMembers.end())
        FMembers.push_back(output);
    // An output that keyed nothing (a port not open) leaves again.
    const auto prune = qScopeGuard([this] { Prune(); });
    output->Switch(true);
}

void TKeyedOutputs::Release(const TOutput &keep)
{
    std::exception_ptr failure;
    // A copy: a release may report, and a report runs the event loop.
    const std::vector<TOutput> members = FMembers;
    for (const TOutput &member : members) {
        if (member == keep)
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
    Release(nullptr);
}

void TKeyedOutputs::ReleaseAllBut(const TOutput &keep) { Release(keep); }

bool TKeyedOutputs::Owed(const TOutput &keep)
{
    Prune();
    return std::any_of(FMembers.begin(), FMembers.end(), [&](const TOutput &member) { return member != keep; });
}

void TKeyedOutputs::Settle(TPttOutput::TDeadline deadline)
{
    for (const TOutput &member : FMembers)
        member->Settle(deadline);
    Prune();
}
