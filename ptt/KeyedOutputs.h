#pragma once
#include "ptt/PttOutput.h"

#include <memory>
#include <vector>

// Every output that may be keyed, so that no release forgets one: an output
// joins before it is switched on and leaves only once a release has got
// through and it is settled.
class TKeyedOutputs {
public:
    using TOutput = std::shared_ptr<TPttOutput>;

    // Raises the output's error; the output stays a member all the same.
    void Key(const TOutput &output);
    // Releases every member, and also the given output even if it never was
    // keyed. Each is tried even when an earlier one refuses; the first failure
    // is raised once all have been tried.
    void ReleaseAll(const TOutput &also = nullptr);
    // The same for every member but keep (the output PTT goes to now).
    void ReleaseAllBut(const TOutput &keep);
    // Whether a member other than keep still has to be released.
    bool Owed(const TOutput &keep = nullptr);
    // Those members.
    std::vector<TOutput> Owing(const TOutput &keep = nullptr);
    // Program end: gives releases still in progress until the deadline.
    void Settle(TPttOutput::TDeadline deadline);

private:
    void Prune();
    void Release(const TOutput &keep, const TOutput &also);

    std::vector<TOutput> FMembers;
};
