// What an ensemble's member sees: the patterns in its own order, and on
// request its own draw of the patterns and of the features. Member k
// (0-based) of seed s draws from xorshift64* seeded with its stream
// splitmix64(splitmix64(s) + k + 1): mixing the seed before adding the
// member keeps member k of seed s apart from member k+1 of seed s-1 (adding
// first made them one stream). The order is Fisher-Yates from the last
// position down (j = below(i + 1) for i = N-1 .. 1); with bootstrap it is N
// draws below(N) instead. On data of more than max_samples patterns a member
// sees n = max_samples of them: the last n places after the Fisher-Yates
// steps i = N-1 .. N-n, a draw without replacement in shuffled order (with
// bootstrap: n draws below(N)). A model continued on a further batch (its b-th,
// b >= 1 counting the first fit as 0) seeds member k's order on that batch
// with splitmix64(stream + b), so a stream fed in the same batches gives the
// same members. The member's features are drawn once, at the first fit,
// from splitmix64(stream ^ feature_stream_tag): a partial Fisher-Yates of
// the first m positions, sorted. Without shuffling every member keeps the
// given order. Host-free, so that the toolbox's library module draws what
// the command and Python draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../model/model_file.h"

namespace qir {

// The position in the data of each pattern that member `member` (0-based)
// sees, in the order it sees them, on the model's `batch`-th training call
// (0: the first fit). With bootstrap a position may come more than once;
// there are member_rows(patterns, voting) of them.
std::vector<std::size_t> presentation_order(std::size_t patterns, const VotingSettings &voting,
                                            int member, std::uint64_t batch = 0);

// How many patterns each member sees of `patterns` (with bootstrap, how
// many it draws): all of them, or max_samples when the data have more and
// the members shuffle.
std::size_t member_rows(std::size_t patterns, const VotingSettings &voting);

// The seed of member `member`'s own draws (the order above uses it).
std::uint64_t member_stream(std::uint64_t seed, int member);

// How many of `features` features a member sees at `max_features`: the
// fraction rounded up, at least 1; all of them from 1 on.
std::size_t member_feature_count(std::size_t features, double max_features);

// The features member `member` sees (ascending, 0-based), or none (empty)
// when it sees all of them.
std::vector<std::size_t> member_features(std::size_t features, const VotingSettings &voting,
                                         int member);
// The same among the features `kept` (ascending; empty: all `features`):
// the member draws its share of those, or sees them all.
std::vector<std::size_t> member_features(std::size_t features,
                                         const std::vector<std::size_t> &kept,
                                         const VotingSettings &voting, int member);

}  // namespace qir
