// The timed runs of one client in one case, and the most memory any of them
// took.  The machine is shared and noisy: medians, not means.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace inkseal::bench {

struct Summary {
  std::vector<double> seconds;
  double peakMiB = 0;
  double MedianSeconds() const {
    if (seconds.empty()) return 0;
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const size_t middle = sorted.size() / 2;
    return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
  }
};

}  // namespace inkseal::bench
