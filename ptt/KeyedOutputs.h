#pragma once
#include "ptt/PttOutput.h"

#include <initializer_list>
#include <memory>
#include <vector>

// Every output that may be keyed, so that no release forgets one: an output
// joins before it is switched on and leaves only once a release has got
// through and it is settled.
class TKeyedOutputs {
public:
    using TOutput = std::shared_ptr<TPttOutput>;
    // The outputs keyed on purpose now (PTT's, a test's), which a release of
    // the others passes by.
    using TKept = std::initializer_list<TOutput>;

    // Raises the output's error; the output stays a member all the same.
    void Key(const TOutput &output);
    // Releases every member, and also the given output even if it never was
    // keyed. Each is tried even when an earlier one refuses; the first failure
    // is raised once all have been tried.
    void ReleaseAll(const TOutput &also = nullptr);
    // The same for every member but those kept.
    void ReleaseAllBut(TKept keep);
    // Releases one member, if it may be keyed.
    void Release(const TOutput &output);
    // Whether a member not kept still has to be released.
    bool Owed(TKept keep = {});
    // Those members.
    std::vector<TOutput> Owing(TKept keep = {});
    // Program end: gives releases still in progress until the deadline.
    void Settle(TPttOutput::TDeadline deadline);

private:
    void Prune();
    void ReleaseMembers(TKept keep, const TOutput &also);

    std::vector<TOutput> FMembers;
};
