// Where the grey snapshot rises and falls: an index that lets finder
// detection jump over the stretches of a page where it has nothing to do.
//
// Contents
//   GreyStep                    the four transitions finder detection acts on
//   GreySteps                   their columns in every row of a snapshot
//   GreySteps::NextStep         the first such column at or right of a column
//   GreySteps::NextRowWithStep  the first row, from a given one, with one right of a column
//
// The transitions, at column j of row h, with P the grey value:
//   kStrongRise  P(j) - P(j-1) > 35
//   kWeakRise    P(j) - P(j-1) > 20
//   kFall        P(j-1) - P(j) > 20 and P(j) < 150
//   kStrongFall  P(j-1) - P(j) > 35 (the "strong fall after j-1")
// Columns run from 1 to nWidth/3 - 1, the columns finder detection examines;
// strong falls also at nWidth/3, comparing the last examined column with the
// position that follows it in the snapshot, as the test for a strong fall
// after the last column does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

enum class GreyStep { kStrongRise, kWeakRise, kFall, kStrongFall };

class GreySteps {
 public:
  // Indexes the snapshot of nHeight rows at a stride of nWidth bytes: at once, or row by row
  // (AddRow for every row, then Complete) in a pass that makes the snapshot.  Each row is read
  // one position past its last scanned column, which the next row or, after the last row, the
  // snapshot's white margin covers.  May throw std::bad_alloc.
  GreySteps(const unsigned char* pOrgPixel, int nWidth, int nHeight);
  GreySteps(int nWidth, int nHeight);
  void AddRow(int h, const unsigned char* row);
  void Complete();

  // The smallest column >= from of row h with that transition, or
  // nWidth/3 + 1 when there is none.
  int NextStep(GreyStep kind, int h, int from) const;

  // The smallest row r >= h with that transition at a column >= from, or
  // nHeight when there is none.
  int NextRowWithStep(GreyStep kind, int h, int from) const;

  // Band rows of a finder scan found to change nothing for the start column x and finder
  // width w (code_detect.cpp says why they stay so): noted as finder scans walk them, and the
  // first row from h on that is not known to be such a row.
  void NoteQuietBand(int x, int w, int from, int to) const;
  int AfterQuietBand(int x, int w, int h) const;

 private:
  struct Kind {
    std::vector<std::uint64_t> bits;  // bit j of row h: the transition at column j
    std::vector<std::vector<int>>
        last;  // last[k][h]: its last column in rows h .. h+2^k-1 (-1: none)
  };

  int nColumns_;
  int nHeight_;
  std::size_t words_;  // 64-bit words per row
  std::array<Kind, 4> kinds_;
  // Quiet band rows [from, to) by start column and width; a cache of answers about the same
  // snapshot, so kept by the const index.
  mutable std::unordered_map<std::uint64_t, std::pair<int, int>> quietBands_;
};
