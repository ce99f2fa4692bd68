// The members' vote, and what makes voting settings sound: host-free, so
// that every front end (the command, Python, and the toolbox, which trains
// its members in its own host) votes through these functions. The members'
// orders are in presentation_order.h.
//
// Vote: each member classifies with one qir_perf call; a member that leaves
// a pattern unclassified casts no vote for it. The class with the most
// votes wins; a tie goes to the lowest of the tied classes (so the winner
// is always the first class with the largest share). A pattern is
// unclassified only when no member classifies it. The vote shares of a
// pattern are each class's votes over the votes cast. With weights
// (VotingSettings::oob_weights) a member's vote counts its weight instead
// of 1, in the winner and in the shares alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../model/model_file.h"

namespace qir {

// Throws UsageError when the settings cannot make an ensemble: fewer than
// one voter, or more than one without shuffling (they would all be equal),
// max_features outside (0, 1], max_samples not a whole number >= 0, or a
// member's own draws without shuffling.
void check_voting(const VotingSettings &voting);

struct VoteResult {
  std::vector<double> labels;  // one per pattern; the unknown label where no member voted
  std::vector<double> classes;  // the classes that got votes can be among, ascending
  std::vector<double> shares;   // patterns x classes, row by row; all 0 where no vote was cast
  std::vector<int> votes;       // number of members that voted for each pattern
};

// The vote over `member_labels` (one label vector per member, all of one
// length) among `classes` (ascending; a label outside them casts no vote),
// each member's vote counting its `weights` entry (none given: 1 each).
VoteResult vote(const std::vector<std::vector<double>> &member_labels,
                const std::vector<double> &classes, double unknown_label,
                const std::vector<double> &weights = {});

// What a caller takes from the vote. With the labels alone, a pattern's
// vote may end as soon as the members still to vote cannot change its
// label (classify_in_blocks): the labels are the full vote's, the shares
// are left empty and `votes` counts the votes seen until then (0 exactly
// where no member voted).
enum class VoteNeeds { everything, labels };

// Whether the winner of a pattern's vote is settled: `counts` holds its
// votes so far, class by class (`width` of them), and `left` members are
// still to vote, each for any class or none. The winner so far (the first
// class with the most votes) stays the winner only when it has a vote
// (else the pattern may stay unclassified or go to any class that gets
// one) and no rival can reach it, or only tie it from a higher class.
bool vote_settled(const int *counts, std::size_t width, int left);

// The members' weights in the vote: empty when each counts once.
std::vector<double> vote_weights(const Model &model);

// What training prints between members: the heading of member `member`
// (0-based) of `members` in detailed output, and the note after member 1's
// summary when only that one is shown.
std::string member_heading(std::size_t member, std::size_t members);
std::string members_note(std::size_t members);

}  // namespace qir
