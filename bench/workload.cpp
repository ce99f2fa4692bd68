#include "workload.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qirbench {

std::uint64_t Random::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Random::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double Random::normal() {
  const double u = 1.0 - uniform();  // (0, 1]: the log stays finite
  const double v = uniform();
  return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

Rows uniform_patterns(std::int32_t count, std::int32_t M, std::uint64_t seed) {
  Random rng(seed);
  Rows rows(static_cast<std::size_t>(count), std::vector<double>(static_cast<std::size_t>(M)));
  for (auto &row : rows)
    for (double &x : row) x = rng.uniform();
  return rows;
}

namespace {

std::vector<double> unit_vector(Random &rng, std::int32_t M) {
  std::vector<double> u(static_cast<std::size_t>(M));
  double s = 0.0;
  while (M > 0 && s == 0.0) {
    s = 0.0;
    for (double &x : u) {
      x = rng.normal();
      s += x * x;
    }
  }
  for (double &x : u) x /= std::sqrt(s);
  return u;
}

// The same ellipsoidal distance the modules use, for calibration only.
double ellipse_distance(const std::vector<double> &row, std::int32_t M, double ratio,
                        const std::vector<double> &x) {
  double sq = 0.0, proj = 0.0;
  for (std::int32_t i = 0; i < M; ++i) {
    const double d = row[i] - x[i];
    sq += d * d;
    proj += row[M + i] * d;
  }
  return std::sqrt(std::max(0.0, sq - (1.0 - ratio * ratio) * proj * proj)) / ratio;
}

// The radius scale at which half the probe patterns lie inside some node,
// given each node's relative size in the radius slot.
double median_scale(const Rows &rows, std::int32_t M, double ratio, const Rows &probe) {
  std::vector<double> needed;
  for (const auto &x : probe) {
    double best = std::numeric_limits<double>::infinity();
    for (const auto &row : rows) best = std::min(best, ellipse_distance(row, M, ratio, x) / row[2 * M]);
    needed.push_back(best);
  }
  if (needed.empty()) return 1.0;
  std::nth_element(needed.begin(), needed.begin() + needed.size() / 2, needed.end());
  return needed[needed.size() / 2];
}

}  // namespace

namespace {

constexpr std::int32_t classes = 4;
constexpr std::int32_t clusters_per_class = 10;

std::vector<double> near(const std::vector<double> &centre, double spread, Random &rng) {
  std::vector<double> x(centre.size());
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = centre[i] + spread * rng.normal();
  return x;
}

}  // namespace

ClassificationSet classification_set(std::int32_t patterns, std::int32_t nodes, std::int32_t M,
                                     double ratio, std::uint64_t seed, double box) {
  Random rng(seed);
  Rows centres = uniform_patterns(classes * clusters_per_class, M, rng.next());
  for (auto &centre : centres)
    for (double &x : centre) x *= box;
  const double spread = 0.08 * std::sqrt(16.0 / std::max(M, 1));
  const auto cluster = [&] { return rng.below(static_cast<std::uint32_t>(centres.size())); };
  ClassificationSet set;
  for (std::int32_t k = 0; k < nodes; ++k) {
    const std::uint32_t c = cluster();
    std::vector<double> row = near(centres[c], spread, rng);
    for (double &x : row) x = std::min(box, std::max(0.0, x));
    const std::vector<double> u = unit_vector(rng, M);
    row.insert(row.end(), u.begin(), u.end());
    row.push_back(rng.uniform(0.5, 1.5));  // relative size, scaled below
    set.nodes.templates.push_back(std::move(row));
    set.nodes.labels.push_back(1.0 + static_cast<double>(c / clusters_per_class));
  }
  for (std::int32_t j = 0; j < patterns; ++j) set.patterns.push_back(near(centres[cluster()], spread, rng));
  const Rows probe(set.patterns.begin(),
                   set.patterns.begin() + std::min<std::size_t>(set.patterns.size(), 500));
  const double scale = median_scale(set.nodes.templates, M, ratio, probe);
  for (auto &row : set.nodes.templates) row[2 * M] *= scale;
  return set;
}

Labelled clustered_patterns(std::int32_t count, std::int32_t M, std::int32_t classes,
                            std::int32_t clusters, double spread, std::uint64_t seed) {
  Random rng(seed);
  const Rows centres = uniform_patterns(classes * clusters, M, rng.next());
  Labelled data;
  for (std::int32_t j = 0; j < count; ++j) {
    const std::uint32_t c = rng.below(static_cast<std::uint32_t>(classes * clusters));
    std::vector<double> x(static_cast<std::size_t>(M));
    for (std::int32_t i = 0; i < M; ++i) x[i] = centres[c][i] + spread * rng.normal();
    data.patterns.push_back(std::move(x));
    data.labels.push_back(1.0 + static_cast<double>(c / static_cast<std::uint32_t>(clusters)));
  }
  return data;
}

namespace {

void scale_to_unit(Rows &rows) {
  if (rows.empty()) return;
  const std::size_t M = rows[0].size();
  for (std::size_t i = 0; i < M; ++i) {
    double lo = rows[0][i], hi = rows[0][i];
    for (const auto &x : rows) {
      lo = std::min(lo, x[i]);
      hi = std::max(hi, x[i]);
    }
    const double range = hi > lo ? hi - lo : 1.0;
    for (auto &x : rows) x[i] = (x[i] - lo) / range;
  }
}

Labelled finished(Labelled data, bool sorted) {
  scale_to_unit(data.patterns);
  if (!sorted) return data;
  std::vector<std::size_t> order(data.labels.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return data.labels[a] < data.labels[b]; });
  Labelled out;
  for (std::size_t k : order) {
    out.patterns.push_back(data.patterns[k]);
    out.labels.push_back(data.labels[k]);
  }
  return out;
}

}  // namespace

Labelled overlapping_clusters(std::int32_t count, std::uint64_t seed, bool sorted) {
  constexpr std::int32_t M = 20, clusters = 25, classes = 5;
  Random rng(seed);
  Rows centres(clusters, std::vector<double>(M));
  for (auto &c : centres)
    for (double &x : c) x = 1.1 * rng.normal();
  Labelled data;
  for (std::int32_t j = 0; j < count; ++j) {
    const std::uint32_t c = rng.below(clusters);
    std::vector<double> x(centres[c]);
    for (double &v : x) v += 0.9 * rng.normal();
    data.patterns.push_back(std::move(x));
    data.labels.push_back(1.0 + static_cast<double>(c % classes));
  }
  return finished(std::move(data), sorted);
}

Labelled letters_like(std::int32_t count, std::uint64_t seed, bool sorted) {
  constexpr std::int32_t M = 16, classes = 26, prototypes = 4;
  Random rng(seed);
  Rows centres(classes * prototypes, std::vector<double>(M));
  for (auto &c : centres)
    for (double &x : c) x = static_cast<double>(rng.below(16));
  Labelled data;
  for (std::int32_t j = 0; j < count; ++j) {
    const std::uint32_t c = rng.below(classes * prototypes);
    std::vector<double> x(centres[c]);
    for (double &v : x) v = std::min(15.0, std::max(0.0, std::nearbyint(v + 3.0 * rng.normal())));
    data.patterns.push_back(std::move(x));
    data.labels.push_back(1.0 + static_cast<double>(c % classes));
  }
  return finished(std::move(data), sorted);
}

}  // namespace qirbench
