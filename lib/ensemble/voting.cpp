#include "voting.h"

#include <algorithm>

#include "../base/errors.h"
#include "../model/parameters.h"

namespace qir {

void check_voting(const VotingSettings &voting) {
  if (voting.voters < 1 || voting.voters > 1000)
    throw UsageError("the number of voters must lie between 1 and 1000");
  if (voting.voters > 1 && !voting.shuffle)
    throw UsageError("more than one voter needs shuffling (each member learns its own order)");
  if (!(voting.max_features > 0 && voting.max_features <= 1))
    throw UsageError("max_features must lie in (0, 1]");
  if ((voting.bootstrap || voting.max_features < 1) && !voting.shuffle)
    throw UsageError("members' own draws of patterns or features need shuffling");
  if (const Parameter &rows = parameter("max_samples"); !in_range(rows.range, voting.max_samples))
    throw UsageError("max_samples must be " + range_text(rows.range));
  if (voting.oob_weights && !voting.bootstrap)
    throw UsageError("votes weighted out of bag need bootstrap: only a draw leaves patterns out");
}

std::vector<double> vote_weights(const Model &model) {
  if (!model.voting.oob_weights) return {};
  std::vector<double> weights;
  for (const Member &member : model.members) weights.push_back(member.weight);
  return weights;
}

VoteResult vote(const std::vector<std::vector<double>> &member_labels,
                const std::vector<double> &classes, double unknown_label,
                const std::vector<double> &weights) {
  const std::size_t patterns = member_labels.empty() ? 0 : member_labels.front().size();
  const std::size_t width = classes.size();
  VoteResult result;
  result.classes = classes;
  result.labels.assign(patterns, unknown_label);
  result.shares.assign(patterns * width, 0.0);
  result.votes.assign(patterns, 0);
  // Sums of whole weights are exact, so equal weights vote as counts do.
  std::vector<double> counts(width);
  for (std::size_t p = 0; p < patterns; ++p) {
    std::fill(counts.begin(), counts.end(), 0.0);
    int cast = 0;
    double weight_cast = 0;
    for (std::size_t member = 0; member < member_labels.size(); ++member) {
      const double label = member_labels[member][p];
      const auto found = std::lower_bound(classes.begin(), classes.end(), label);
      if (found == classes.end() || *found != label) continue;  // unclassified: no vote
      const auto c = static_cast<std::size_t>(found - classes.begin());
      const double weight = weights.empty() ? 1.0 : weights[member];
      counts[c] += weight;
      weight_cast += weight;
      ++cast;
    }
    result.votes[p] = cast;
    if (cast == 0) continue;
    std::size_t best = width;
    for (std::size_t c = 0; c < width; ++c) {
      if (counts[c] == 0) continue;
      if (best == width || counts[c] > counts[best]) best = c;  // ties: the lowest class
      result.shares[p * width + c] = counts[c] / weight_cast;
    }
    result.labels[p] = classes[best];
  }
  return result;
}

bool vote_settled(const int *counts, std::size_t width, int left) {
  if (width == 0) return true;  // nothing can be voted for
  std::size_t best = 0;
  for (std::size_t c = 1; c < width; ++c)
    if (counts[c] > counts[best]) best = c;
  if (left > 0 && counts[best] == 0) return false;
  // A rival below the winner wins a tie with it; one above it only ties.
  for (std::size_t c = 0; c < best; ++c)
    if (counts[c] + left >= counts[best]) return false;
  for (std::size_t c = best + 1; c < width; ++c)
    if (counts[c] + left > counts[best]) return false;
  return true;
}

std::string member_heading(std::size_t member, std::size_t members) {
  return "\nMember " + std::to_string(member + 1) + " of " + std::to_string(members) + ":";
}

std::string members_note(std::size_t members) {
  return "(" + std::to_string(members) +
         " members trained, each in its own order; the summary above is member 1's, "
         "oflag 2 shows every member's)\n";
}

}  // namespace qir
