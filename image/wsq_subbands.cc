// Every node and subband is an interval of columns times an interval of rows. Each interval is
// reached from the whole axis by a sequence of halvings, written as a path of letters: 'a' takes
// the first part, 'b' the second. Halving n samples gives ceil(n/2) lowpass and floor(n/2)
// highpass samples; a segment that is itself a second part is inverted and keeps its highpass
// part first.
#include "image/wsq_subbands.h"

#include <cassert>

namespace ridgeline::image::wsq {
namespace {

struct Paths {
  const char* x;
  const char* y;
};

// The split steps, by number; each splits into the quadrants named by appending a letter to
// both paths.
constexpr std::array<Paths, kNodes> kNodePaths = {{
    {"", ""},       {"a", "a"},     {"b", "a"},     {"a", "b"},     {"ab", "aa"},
    {"aa", "ab"},   {"aba", "aaa"}, {"abb", "aaa"}, {"aba", "aab"}, {"abb", "aab"},
    {"aaa", "aba"}, {"aab", "aba"}, {"aaa", "abb"}, {"aab", "abb"}, {"aa", "aa"},
    {"aaa", "aaa"}, {"aab", "aaa"}, {"aaa", "aab"}, {"aab", "aab"}, {"aaaa", "aaaa"},
}};

// The subbands in coding order.
constexpr std::array<Paths, kSubbands> kSubbandPaths = {{
    {"aaaaa", "aaaaa"}, {"aaaab", "aaaaa"}, {"aaaaa", "aaaab"}, {"aaaab", "aaaab"},
    {"aaab", "aaaa"},   {"aaaa", "aaab"},   {"aaab", "aaab"},   {"aaba", "aaaa"},
    {"aabb", "aaaa"},   {"aaba", "aaab"},   {"aabb", "aaab"},   {"aaaa", "aaba"},
    {"aaab", "aaba"},   {"aaaa", "aabb"},   {"aaab", "aabb"},   {"aaba", "aaba"},
    {"aabb", "aaba"},   {"aaba", "aabb"},   {"aabb", "aabb"},   {"abaa", "aaaa"},
    {"abab", "aaaa"},   {"abaa", "aaab"},   {"abab", "aaab"},   {"abba", "aaaa"},
    {"abbb", "aaaa"},   {"abba", "aaab"},   {"abbb", "aaab"},   {"abaa", "aaba"},
    {"abab", "aaba"},   {"abaa", "aabb"},   {"abab", "aabb"},   {"abba", "aaba"},
    {"abbb", "aaba"},   {"abba", "aabb"},   {"abbb", "aabb"},   {"aaaa", "abaa"},
    {"aaab", "abaa"},   {"aaaa", "abab"},   {"aaab", "abab"},   {"aaba", "abaa"},
    {"aabb", "abaa"},   {"aaba", "abab"},   {"aabb", "abab"},   {"aaaa", "abba"},
    {"aaab", "abba"},   {"aaaa", "abbb"},   {"aaab", "abbb"},   {"aaba", "abba"},
    {"aabb", "abba"},   {"aaba", "abbb"},   {"aabb", "abbb"},   {"ab", "ab"},
    {"ba", "aa"},       {"bb", "aa"},       {"ba", "ab"},       {"bb", "ab"},
    {"aa", "ba"},       {"ab", "ba"},       {"aa", "bb"},       {"ab", "bb"},
    {"ba", "ba"},       {"bb", "ba"},       {"ba", "bb"},       {"bb", "bb"},
}};

struct Interval {
  int start = 0;
  int length = 0;
  bool inverted = false;
};

Interval Follow(const char* path, int n) {
  Interval at{0, n, false};
  for (const char* letter = path; *letter != '\0'; ++letter) {
    const int low = (at.length + 1) / 2;
    const int high = at.length / 2;
    const int first = at.inverted ? high : low;
    const int second = at.inverted ? low : high;
    if (*letter == 'a') {
      at = {at.start, first, false};
    } else {
      at = {at.start + first, second, true};
    }
  }
  return at;
}

}  // namespace

Geometry ComputeGeometry(int width, int height) {
  assert(width >= 1 && height >= 1);
  Geometry geometry;
  for (int i = 0; i < kNodes; ++i) {
    const Interval x = Follow(kNodePaths[i].x, width);
    const Interval y = Follow(kNodePaths[i].y, height);
    geometry.nodes[i] = {{x.start, y.start, x.length, y.length}, x.inverted, y.inverted};
  }
  for (int i = 0; i < kSubbands; ++i) {
    const Interval x = Follow(kSubbandPaths[i].x, width);
    const Interval y = Follow(kSubbandPaths[i].y, height);
    geometry.subbands[i] = {x.start, y.start, x.length, y.length};
  }
  return geometry;
}

}  // namespace ridgeline::image::wsq
