#include "settings/layout_fit.h"

#include <algorithm>

namespace qelta {

void AxisStretch::Need(int start, int length, int needed) {
  spans_.push_back({start, start + length, needed});
  Edge(start);
  Edge(start + length);
}

void AxisStretch::Edge(int coordinate) {
  edges_.push_back(coordinate);
}

void AxisStretch::Solve() {
  std::sort(edges_.begin(), edges_.end());
  edges_.erase(std::unique(edges_.begin(), edges_.end()), edges_.end());
  growth_.assign(edges_.size(), 0);
  std::vector<Span> order = spans_;
  std::stable_sort(order.begin(), order.end(),
                   [](const Span& a, const Span& b) { return a.end < b.end; });
  for (const Span& span : order) {
    const int lacking = span.needed - (Map(span.end) - Map(span.start));
    if (lacking <= 0 || span.end <= span.start) continue;
    const auto at = std::lower_bound(edges_.begin(), edges_.end(), span.end);
    growth_[static_cast<size_t>(at - edges_.begin())] += lacking;
  }
}

int AxisStretch::Map(int coordinate) const {
  int shift = 0;
  for (size_t i = 0; i < edges_.size() && edges_[i] <= coordinate; ++i) shift += growth_[i];
  return coordinate + shift;
}

}  // namespace qelta
