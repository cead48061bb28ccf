// Two-dimensional code detection on the grey snapshot.
//
// Contents
//   TwoDimensionCodeRect        codes found so far in this job (10 slots)
//   ResetTwoDimensionCodeRects  empties the table
//   IsAnchor                    is there a finder pattern with its top-left corner at (x, y)?
//   IsRDCode                    confirms a whole code from its top-left finder and records it
//
// A finder pattern is 7 x 7 modules: a dark ring one module wide, a light
// ring, a dark 3 x 3 centre.  Codes that were scaled or smoothed arrive with
// grey module edges; the detector follows those edges row by row:
//
//     ####### <- band rows: one dark run, ended by a rise at nAnchorW
//     #.....# <- ring rows: left band, wide light gap, right band
//     #.###.# <- centre rows: left band, gap, centre, gap, right band
//     #.....#
//     ####### <- bottom band, then the first light row confirms
//
// Both routines read only the grey snapshot, never the image being decided.

#include "adaptive/code_detect.h"

#include <cstddef>

#include "adaptive/grey_steps.h"
#include "log.h"
#include "pixels.h"

thread_local RECT TwoDimensionCodeRect[kTwoDimensionCodeSlots] = {};

void ResetTwoDimensionCodeRects() {
  for (RECT& r : TwoDimensionCodeRect) r = RECT{0, 0, 0, 0};
}

namespace {

// Grey value of pixel (j, r): the first byte of its three in the snapshot.
struct GreyView {
  const unsigned char* base;
  std::ptrdiff_t stride;
  int operator()(int j, int r) const {
    return base[r * stride + 3 * static_cast<std::ptrdiff_t>(j)];
  }
};

// The row-by-row state machine of IsAnchor.  Each examined column gives one action; the scan
// state carries over from one row to the next.
class AnchorScan {
 public:
  enum class Action { kNextColumn, kNextRow, kFinish, kResult };
  // Where the scan stands in the pattern.  The band rows (the top band, and the bottom band and
  // below it) wait for a strong rise; a row across the ring walks left band, light gap, right
  // band, or left band, light gap, dark centre, light gap, right band.
  enum class Step {
    kTopBand,
    kBelowBottomBand,
    kLeftBand,
    kLightGap,
    kRightBand,
    kDarkCentre,
    kGapAfterCentre,
  };

  AnchorScan(GreyView P, int x) : P_(P), x_(x), nStartPos_(x) {}

  int x() const { return x_; }
  int result() const { return result_; }
  // In the band rows with the finder's width known: a row there changes the scan only through
  // what lies between x and the band's end, so rows found quiet for (x, width) stay quiet.
  bool InBandRows() const {
    return (step_ == Step::kTopBand || step_ == Step::kBelowBottomBand) && nAnchorW_ != 0;
  }
  int width() const { return nAnchorW_; }

  // At the start of a ring row the scan leaves the pattern when the start column has turned
  // light.
  bool LeavesAtRowStart(int h) const { return step_ == Step::kLeftBand && P_(x_, h) > 199; }

  // The transition the current step waits for, and by how many columns the column it is seen at
  // lies right of the column examined (the fall after the centre is seen one column later).
  GreyStep Awaited() const {
    switch (step_) {
      case Step::kLightGap:
        return GreyStep::kFall;
      case Step::kDarkCentre:
        return GreyStep::kWeakRise;
      case Step::kGapAfterCentre:
        return GreyStep::kStrongFall;
      default:
        return GreyStep::kStrongRise;
    }
  }
  int AwaitedOffset() const { return step_ == Step::kGapAfterCentre ? 1 : 0; }

  // Rows without the awaited transition right of the start column change nothing, except at the
  // start of a ring row, where the start column is tested first.
  int NextRowToScan(const GreySteps& steps, int h) const {
    if (step_ == Step::kLeftBand) return h;
    return steps.NextRowWithStep(Awaited(), h, x_ + 1 + AwaitedOffset());
  }

  // The next column from i at which Step acts.
  int NextCandidate(const GreySteps& steps, int h, int i) const {
    return steps.NextStep(Awaited(), h, i + AwaitedOffset()) - AwaitedOffset();
  }

  // Examines column i of row h, where the awaited transition is.
  Action Examine(int i, int h) {
    switch (step_) {
      case Step::kTopBand:
      case Step::kBelowBottomBand:
        if (nAnchorW_ == 0) {
          nAnchorW_ = i - x_;
          nRightPos_ = nEnd_ = i;
        }
        if (P_(i, h) > 200) {
          return Finish(nMiddleBlackW_ != 0 && step_ == Step::kBelowBottomBand ? nAnchorW_ : 0);
        }
        if (i - x_ == nAnchorW_) return Action::kNextRow;
        if (i - x_ < nAnchorW_ / 2) {  // the first row under the top band
          if (nLeftBandW_ == 0) nLeftBandW_ = i - x_;
          step_ = Step::kLightGap;
          nStartPos_ = i;
          ++x_;  // smoothing widens the rows below by a pixel
        }
        return Action::kNextColumn;

      case Step::kLeftBand:
        if (nLeftBandW_ == 0) nLeftBandW_ = i - nStartPos_;
        if (Within(i - nStartPos_, nAnchorW_, 2)) {  // the bottom band
          nStartPos_ = x_;
          step_ = Step::kBelowBottomBand;
          return Action::kNextRow;
        }
        nStartPos_ = i;
        step_ = Step::kLightGap;
        return Action::kNextColumn;

      case Step::kLightGap:
        if (nMiddleBandW_ == 0) nMiddleBandW_ = i - nStartPos_;
        // A narrow gap: the row crosses the centre.
        step_ = i - nStartPos_ < nMiddleBandW_ / 2 ? Step::kDarkCentre : Step::kRightBand;
        nStartPos_ = i;
        return Action::kNextColumn;

      case Step::kRightBand:  // its end must line up with the top band's
        if (nRightBandW_ == 0) nRightBandW_ = i - nStartPos_;
        if (i != nRightPos_ - 1 && i != nRightPos_) return Finish(0);
        nStartPos_ = x_;
        step_ = Step::kLeftBand;
        return Action::kNextRow;

      case Step::kDarkCentre:
        if (nMiddleBlackW_ == 0) {
          if (i >= nEnd_) return Finish(0);
          nMiddleBlackW_ = i - nStartPos_;
        }
        if (Within(i - nStartPos_, nMiddleBandW_, 2)) {
          nStartPos_ = i;
          step_ = Step::kRightBand;
        } else if (!Within(i - nStartPos_, nMiddleBlackW_, 5)) {
          return Finish(0);
        } else {
          nStartPos_ = i;
          step_ = Step::kGapAfterCentre;
        }
        return Action::kNextColumn;

      case Step::kGapAfterCentre:
        nStartPos_ = i;
        step_ = Step::kRightBand;
        return Action::kNextColumn;
    }
    return Action::kNextColumn;
  }

  // Verdict once the rows are exhausted or the scan has left the pattern.
  int Verdict() const {
    const bool confirmed = nMiddleBlackW_ != 0 && nLeftBandW_ != 0 && nRightBandW_ != 0 &&
                           nMiddleBandW_ > nMiddleBlackW_ && nAnchorW_ - nMiddleBandW_ >= 2;
    return confirmed ? nAnchorW_ : 0;
  }

 private:
  Action Finish(int value) {
    result_ = value;
    return Action::kResult;
  }

  GreyView P_;
  int x_;
  int nAnchorW_ = 0;
  int nStartPos_;
  Step step_ = Step::kTopBand;
  int nLeftBandW_ = 0;
  int nMiddleBandW_ = 0;
  int nRightBandW_ = 0;
  int nMiddleBlackW_ = 0;
  int nRightPos_ = 0;
  int nEnd_ = 0;
  int result_ = 0;
};

// Where the first dark run after `from` along a line ends, when that run is
// about nAnchorW long.  at(k) is the grey value at position k of the line,
// which is scanned while k < limit.  A run starts at a value of 99 or less
// and ends before a rise of more than 20.  Runs of another length are
// dropped and the search goes on; only the first matching run counts.
template <typename At>
int FindFinderRun(At at, int from, int limit, int nAnchorW) {
  int nStartPos = -1;
  for (int k = from; k < limit; ++k) {
    if (nStartPos == -1) {
      if (at(k) <= 99) nStartPos = k;
      continue;
    }
    if (at(k + 1) - at(k) <= 20) continue;
    if (Within(k - nStartPos, nAnchorW, 3)) return nStartPos;
    nStartPos = -1;
  }
  return -1;
}

}  // namespace

// IsAnchor: width of a finder pattern whose top-left corner is at (x, y).
//   In:  pOrgPixel, the grey snapshot (stride nWidth bytes, nHeight rows,
//        followed by a white margin); pPixel is not read.
//   Out: the finder's outer width measured on its first row, or 0.
//   Notes:
//   1. Scans columns x+1 .. nWidth/3 - 1 of rows y .. nHeight - 1; column x
//      itself is never examined.  The start column moves right by one when
//      the scan enters the ring rows, because smoothing widens them.
//   2. A row that ends inside a ring leaves the scan state as it is for the
//      next row.
//   3. The test for a fall after the last scanned column reads the position
//      that follows it in the snapshot (padding, the next row, or the white
//      margin after the last row).
//   4. Crisp black-and-white finders are not confirmed: the first rise after
//      the top band lands on white and ends the scan.
//   5. `steps`, built from the same snapshot, lets the scan jump from one
//      transition it waits for to the next, over rows without one, and over
//      band rows already found quiet (see below).
//
// Why a quiet band row may be jumped.  In the band rows, once the first row
// has fixed the finder's width w, examining a row changes the scan only by
// finishing it (a rise onto white), by entering the ring rows (a rise within
// w/2 of x), or by moving x; a row that does none of these leaves every field
// of the scan as it was.  Which of these a row does depends on the snapshot's
// row and on x and w alone (the result a finish returns also depends on the
// centre width, but a finishing row is no quiet row).  So once a stretch of
// rows has been walked quietly for (x, w), any later scan in the band rows with
// the same x and w passes through those rows unchanged, and may start at the
// first row after them: the rows it jumps are exactly the rows it would have
// examined to no effect.  Only whole rows that were examined (or passed over
// for want of a rise right of x) and found quiet are noted, and only while x
// and w stayed as they were; a row that finished, entered the ring or ran
// into the end of the page ends the stretch before it.
int IsAnchor(const unsigned char* /*pPixel*/, const unsigned char* pOrgPixel, int x, int y,
             int nWidth, int nHeight, const GreySteps& steps) {
  const GreyView P{pOrgPixel, nWidth};
  const int nColumns = nWidth / 3;
  AnchorScan scan(P, x);
  bool bFinish = false;
  // Long quiet stretches are what scans from the rows of one edge walk again and again; short
  // ones are not worth noting.
  constexpr int kWorthNoting = 16;
  int quietFrom = -1;  // first row of the band rows just walked that changed nothing
  bool lookedUp = false;
  auto noteQuiet = [&](int to) {
    if (quietFrom >= 0 && to - quietFrom >= kWorthNoting) {
      steps.NoteQuietBand(scan.x(), scan.width(), quietFrom, to);
    }
    quietFrom = -1;
  };
  for (int h = y; h < nHeight && !bFinish; ++h) {
    h = scan.NextRowToScan(steps, h);
    if (scan.InBandRows() && !lookedUp && h < nHeight) {  // the first row after the width is known
      lookedUp = true;
      const int next = steps.AfterQuietBand(scan.x(), scan.width(), h);
      if (next > h) quietFrom = h;
      h = next;
    }
    if (h >= nHeight) break;
    if (scan.x() + 1 < nColumns && scan.LeavesAtRowStart(h)) break;
    const bool band = scan.InBandRows();
    bool changed = false;
    for (int i = scan.x() + 1; i < nColumns; ++i) {
      i = scan.NextCandidate(steps, h, i);
      if (i >= nColumns) break;
      const AnchorScan::Action action = scan.Examine(i, h);
      if (action == AnchorScan::Action::kResult) {
        noteQuiet(h);
        return scan.result();
      }
      changed = changed || !scan.InBandRows();  // the ring rows began
      if (action == AnchorScan::Action::kNextRow) break;
      if (action == AnchorScan::Action::kFinish) {
        bFinish = true;
        break;
      }
    }
    if (band && !changed) {
      if (quietFrom < 0) quietFrom = h;
    } else {
      noteQuiet(h);
    }
  }
  noteQuiet(nHeight);
  const int nAnchorW = scan.Verdict();
  if (nAnchorW != 0) {
    Debug("x=%d y=%d nWidth=%d nHeight=%d nAnchorW=%d", scan.x(), y, nWidth, nHeight, nAnchorW);
  }
  return nAnchorW;
}

// IsRDCode: confirms a code from its top-left finder at (x, y) and records it.
//   In:  as IsAnchor.
//   Out: 1 when the code was recorded in TwoDimensionCodeRect, else 0.
//   Notes:
//   1. The top-right finder is looked for along row y and the bottom-left one
//      down column x, each from one finder width past (x, y); only the first
//      dark run of about the finder's width in each direction is tested.
//   2. The first finder's width is used throughout; the other finders only
//      confirm.  A code must be at least 43 pixels wide and needs its
//      top-right finder; without a bottom-left one it is taken as square.
//   3. When all slots of the table are in use the code is not recorded and
//      the result is 0.
int IsRDCode(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
             int nHeight, const GreySteps& steps) {
  const int nAnchorW = IsAnchor(pPixel, pOrgPixel, x, y, nWidth, nHeight, steps);
  if (nAnchorW == 0) return 0;
  int nAnchorNum = 1;
  Debug("*** call IsAnchor nAnchorW=%d x=%d y=%d", nAnchorW, x, y);

  const GreyView P{pOrgPixel, nWidth};
  int nRight = 0;
  int nBottom = 0;

  const int nRightRun =
      FindFinderRun([&](int w) { return P(w, y); }, x + nAnchorW, nWidth / 3 - 1, nAnchorW);
  if (nRightRun >= 0 && IsAnchor(pPixel, pOrgPixel, nRightRun, y, nWidth, nHeight, steps) != 0) {
    nRight = nRightRun + nAnchorW;
    ++nAnchorNum;
  }
  const int nBottomRun =
      FindFinderRun([&](int h) { return P(x, h); }, y + nAnchorW, nHeight - 1, nAnchorW);
  if (nBottomRun >= 0 && IsAnchor(pPixel, pOrgPixel, x, nBottomRun, nWidth, nHeight, steps) != 0) {
    nBottom = nBottomRun + nAnchorW;
    ++nAnchorNum;
  }

  if (nAnchorNum <= 1 || nRight - x <= 42) return 0;
  if (nBottom == 0) nBottom = y + (nRight - x);

  for (RECT& slot : TwoDimensionCodeRect) {
    if (slot.right != 0) continue;
    slot = RECT{x, y, nRight, nBottom};
    Debug("***** Find Two Dimension code left=%d top=%d right=%d bottom=%d", x, y, nRight, nBottom);
    return 1;
  }
  return 0;  // the table is full
}
