// Fixed, generated benchmark data: the same inputs on every run (own
// generator, no library distributions whose output may change).
#pragma once

#include <cstdint>
#include <vector>

namespace qirbench {

using Rows = std::vector<std::vector<double>>;

// splitmix64: small, fast, and fully specified.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  double uniform();  // [0, 1), 53 bits
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  double normal();   // Box-Muller, one value per call
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }

 private:
  std::uint64_t state_;
};

struct NodeSet {
  Rows templates;  // centre (M), unit direction (M), radius
  std::vector<double> labels;
};

struct Labelled {
  Rows patterns;
  std::vector<double> labels;
};

// `count` patterns uniform in [0,1]^M.
Rows uniform_patterns(std::int32_t count, std::int32_t M, std::uint64_t seed);

// A node set and patterns drawn from the same 4 classes x 10 clusters
// (cluster centres in [0,box]^M, spread 0.08 sqrt(16/M)). The nodes are like
// trained ones: centres in [0,box]^M near the clusters, unit directions, the
// cluster's class as label, and radii scaled so that about half the
// patterns lie inside at least one node (ellipsoidal distance with
// `ratio`). With box = sqrt(16/M) every distance keeps its size at M = 16,
// and so does the share of nodes passing VT.
struct ClassificationSet {
  NodeSet nodes;
  Rows patterns;
};
ClassificationSet classification_set(std::int32_t patterns, std::int32_t nodes, std::int32_t M,
                                     double ratio, std::uint64_t seed, double box = 1.0);

// `count` patterns in `classes` classes of `clusters` overlapping Gaussian
// clusters each, centres in [0,1]^M.
Labelled clustered_patterns(std::int32_t count, std::int32_t M, std::int32_t classes,
                            std::int32_t clusters, double spread, std::uint64_t seed);

// Training at scale. Overlapping: 25 cluster centres drawn from
// N(0, 1.1^2) in 20 dimensions, each pattern a centre plus N(0, 0.9^2)
// noise, class = cluster mod 5. Letters-like: 16 integer features 0-15,
// 26 classes of 4 prototypes each (integers 0-15), each pattern a prototype
// plus N(0, 3^2) noise rounded and clipped to 0-15. Both are min-max scaled
// to [0, 1] per feature, as the qir command scales them; `sorted` puts the
// patterns in class order (stable).
Labelled overlapping_clusters(std::int32_t count, std::uint64_t seed, bool sorted);
Labelled letters_like(std::int32_t count, std::uint64_t seed, bool sorted);

}  // namespace qirbench
