#include "folds.h"

#include <map>
#include <utility>

namespace qir {
namespace {

// Park and Miller's minimal standard generator: exact in integers and in
// doubles alike, so the m-files can repeat it bit for bit.
class MinimalStandard {
 public:
  explicit MinimalStandard(std::uint64_t seed) : state_(seed % (modulus - 1) + 1) {}
  // 0 .. bound-1
  std::uint64_t below(std::uint64_t bound) {
    state_ = state_ * 16807 % modulus;
    return state_ * bound / modulus;
  }

 private:
  static constexpr std::uint64_t modulus = 2147483647;
  std::uint64_t state_;
};

}  // namespace

std::vector<int> stratified_folds(const std::vector<double> &labels, int folds,
                                  std::uint64_t seed) {
  std::map<double, std::vector<std::size_t>> by_class;
  for (std::size_t k = 0; k < labels.size(); ++k) by_class[labels[k]].push_back(k);
  MinimalStandard random(seed);
  std::vector<int> fold(labels.size(), 0);
  std::size_t dealt = 0;
  for (auto &[label, members] : by_class) {
    for (std::size_t k = members.size(); k > 1; --k)
      std::swap(members[k - 1], members[random.below(k)]);
    for (std::size_t index : members) fold[index] = static_cast<int>(dealt++ % folds);
  }
  return fold;
}

}  // namespace qir
