#pragma once

#include <vector>

namespace qelta {

// Widens a pixel layout along one axis so that every span gets the length its content needs,
// while the order of all edges stays as designed: the coordinate of every edge is mapped by one
// monotonic function, so controls that did not overlap still do not, columns stay columns and
// rows stay rows. Only gaps between edges grow; nothing shrinks.
class AxisStretch {
 public:
  // A span [start, start + length) of the design whose content needs `needed` pixels.
  void Need(int start, int length, int needed);
  // An edge that must keep its place in the order (a dividing line, the window's far side).
  void Edge(int coordinate);

  // Grows the gaps, spans ending first first, each by what it still lacks, taken from the gap
  // just before its far edge.
  void Solve();

  // The new coordinate of a designed one (after Solve).
  int Map(int coordinate) const;
  // The new length of a designed span.
  int MapLength(int start, int length) const { return Map(start + length) - Map(start); }

 private:
  struct Span {
    int start;
    int end;
    int needed;
  };
  std::vector<Span> spans_;
  std::vector<int> edges_;   // sorted, unique after Solve
  std::vector<int> growth_;  // growth_[i]: pixels added to the gap ending at edges_[i]
};

}  // namespace qelta
