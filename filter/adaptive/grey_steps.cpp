// Where the grey snapshot rises and falls.
//
// Contents
//   GreySteps::AddRow           a row's transition bits and its last transition of each kind
//   GreySteps::Complete         the maxima over rows, by powers of two
//   GreySteps::NextStep         scans a row's bits 64 columns at a time
//   GreySteps::NextRowWithStep  jumps over rows by powers of two
//   GreySteps::NoteQuietBand, AfterQuietBand  the finder scans' quiet band rows

#include "adaptive/grey_steps.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

GreySteps::GreySteps(int nWidth, int nHeight)
    : nColumns_(nWidth / 3),
      nHeight_(nHeight > 0 ? nHeight : 0),
      words_(static_cast<std::size_t>(nWidth / 3) / 64 + 1) {
  for (Kind& kind : kinds_) {
    kind.bits.assign(words_ * static_cast<std::size_t>(nHeight_), 0);
    kind.last.emplace_back(static_cast<std::size_t>(nHeight_), -1);  // none yet
  }
}

GreySteps::GreySteps(const unsigned char* pOrgPixel, int nWidth, int nHeight)
    : GreySteps(nWidth, nHeight) {
  for (int h = 0; h < nHeight_; ++h) AddRow(h, pOrgPixel + static_cast<std::ptrdiff_t>(h) * nWidth);
  Complete();
}

void GreySteps::AddRow(int h, const unsigned char* row) {
  const std::size_t base = static_cast<std::size_t>(h) * words_;
  auto mark = [&](GreyStep kind, int j) {
    Kind& k = kinds_[static_cast<std::size_t>(kind)];
    k.bits[base + (static_cast<std::size_t>(j) >> 6)] |= std::uint64_t{1} << (j & 63);
    k.last[0][static_cast<std::size_t>(h)] = j;
  };
  int previous = row[0];
  for (int j = 1; j <= nColumns_; ++j) {
    // Eight columns equal to the one before them (most of a label is flat) hold no transition.
    if (j + 8 <= nColumns_ && std::memcmp(row + 3 * j, row + 3 * j - 3, 24) == 0) {
      j += 7;
      continue;
    }
    const int grey = row[3 * static_cast<std::ptrdiff_t>(j)];
    const int d = grey - previous;
    // Column nWidth/3 is never examined itself; only the strong fall after the last column
    // looks at it.
    const bool examined = j < nColumns_;
    if (d > 20 && examined) {
      mark(GreyStep::kWeakRise, j);
      if (d > 35) mark(GreyStep::kStrongRise, j);
    } else if (d < -20) {
      if (grey < 150 && examined) mark(GreyStep::kFall, j);
      if (d < -35) mark(GreyStep::kStrongFall, j);
    }
    previous = grey;
  }
}

void GreySteps::Complete() {
  // last[k][h] = the largest of last[0][h .. h + 2^k - 1].
  const std::size_t rows = static_cast<std::size_t>(nHeight_);
  for (Kind& kind : kinds_) {
    for (std::size_t span = 2; span <= rows; span *= 2) {
      const std::vector<int>& half = kind.last.back();
      std::vector<int> level(rows - span + 1);
      for (std::size_t h = 0; h < level.size(); ++h)
        level[h] = std::max(half[h], half[h + span / 2]);
      kind.last.push_back(std::move(level));
    }
  }
}

int GreySteps::NextStep(GreyStep kind, int h, int from) const {
  if (from > nColumns_) return nColumns_ + 1;
  if (from < 0) from = 0;
  const std::uint64_t* bits =
      kinds_[static_cast<std::size_t>(kind)].bits.data() + static_cast<std::size_t>(h) * words_;
  std::size_t w = static_cast<std::size_t>(from) >> 6;
  std::uint64_t word = bits[w] & (~std::uint64_t{0} << (from & 63));
  while (word == 0) {
    if (++w == words_) return nColumns_ + 1;
    word = bits[w];
  }
  return static_cast<int>(w * 64 + static_cast<std::size_t>(std::countr_zero(word)));
}

int GreySteps::NextRowWithStep(GreyStep kind, int h, int from) const {
  if (h >= nHeight_) return nHeight_;
  // Jump over blocks of 2^k rows whose last transition lies left of `from`,
  // largest blocks first: the jumps add up to exactly the run of rows
  // without one at or right of `from`.
  const std::vector<std::vector<int>>& last = kinds_[static_cast<std::size_t>(kind)].last;
  if (last[0][static_cast<std::size_t>(h)] >= from) return h;
  for (int k = static_cast<int>(last.size()) - 1; k >= 0; --k) {
    const std::vector<int>& level = last[static_cast<std::size_t>(k)];
    if (static_cast<std::size_t>(h) < level.size() && level[static_cast<std::size_t>(h)] < from) {
      h += 1 << k;
    }
  }
  return std::min(h, nHeight_);
}

namespace {

std::uint64_t BandKey(int x, int w) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32 |
         static_cast<std::uint32_t>(w);
}

}  // namespace

void GreySteps::NoteQuietBand(int x, int w, int from, int to) const {
  auto [it, added] = quietBands_.try_emplace(BandKey(x, w), from, to);
  auto& [known_from, known_to] = it->second;
  // Keep the stretch noted last, joined with the one known when they meet.
  if (!added && (to < known_from || from > known_to)) {
    known_from = from;
    known_to = to;
  } else if (!added) {
    known_from = std::min(known_from, from);
    known_to = std::max(known_to, to);
  }
}

int GreySteps::AfterQuietBand(int x, int w, int h) const {
  const auto it = quietBands_.find(BandKey(x, w));
  if (it == quietBands_.end()) return h;
  const auto [from, to] = it->second;
  return h >= from && h < to ? to : h;
}
