// Decision rules for a grey pixel at least as close to the row above as to
// the row below.
//
// Contents
//   DecideCloserToAbove   the decided byte for such a pixel
//
// The idea: a pixel that continues the pixel above (similar grey) inherits
// the decision already taken above or to the left; one that departs from it
// by a clear step is decided by the direction of the step and its own
// brightness.

#include "adaptive/line_rules_internal.h"
#include "pixels.h"

namespace {}  // namespace

// DecideCloserToAbove: the decision for pixel (x, y), y >= 1, |O-U| <= |O-D|.
//   In:  c, the pixel's neighbourhood; its run average uses tolerance 30.
//   Out: 0, 255, or a copy of pU or pL.  The rules are tried in order and
//        the first that applies decides.
//   Notes:
//   1. Conditions on L hold only for x >= 1, except in the dark-grey rules,
//      where at x = 0 L and pL are the previous row's last bytes.
//   2. The rule for a light pixel between dark rows reads R unguarded: in
//      the last scanned column that is the position after it (padding, the
//      next row's first pixel, or the white margin).
//   3. D on the last row is the snapshot's white margin (255).
unsigned char DecideCloserToAbove(const PixelContext& c) {
  const int O = c.O, U = c.U, D = c.D, L = c.L, R = c.R;
  const auto pU = static_cast<unsigned char>(c.pU);
  const auto pL = static_cast<unsigned char>(c.pL);
  const int A = c.dwColor;
  const bool hasLeft = c.x >= 1;

  // Continues a run of similar grey above: take its decision, unless a clear
  // dark step from the left starts here.
  if (Within(O, A, 9) && c.nTotalColor >= 5) return hasLeft && L - O > 35 && O < 180 ? 0 : pU;
  if (O <= 49) return 0;
  if (O < U && pU == 0) return 0;  // darker than a dark pixel above
  if (hasLeft && Within(O, L, 9)) return pL;

  if (O <= 99) {  // dark grey
    if (c.HasRight() && R > 199) return 0;
    if (O - U > 35 && O - D > 35) return 0;
    if (Within(O, L, 10)) return pL;
    if (Within(O, U, 10)) return pU;
    return O - U > 30 ? 255 : 0;
  }

  if (O <= 219 && U <= 99 && D <= 99) {  // a light pixel between dark rows
    if (R - O > 35 && O <= 149) return 0;
    if (Within(O, U, 29)) return pU;
    return 255;
  }

  if (O <= 199) {                  // mid grey
    if (D <= 99 && O - D >= 31) {  // a step down to the row below
      if (U > 219 && O < 181) return 0;
      if (O - U > 19) return 255;
      return pU;
    }
    const int d = O - U;
    if (d > 30 && O - D > 30) return 255;
    if (Within(d, 0, 19)) return hasLeft && O - L > 35 && O > 150 ? 255 : pU;
    if (hasLeft && Within(O, L, 10)) return pL;
    if (hasLeft && L <= 99 && U <= 99 && O > 100) return 255;
    if (d < 35) {
      if (c.HasBelow() && D - O > 35 && D > 199) return 0;
      return O < 151 ? pU : 255;
    }
    return 255;
  }

  // Light grey, 200 to 219.
  const int d = O - U;
  if (d > 35 && U > 149) return 255;
  if (Within(d, 0, 20)) return pU;
  if (d > 20) return 255;
  // The pixel above is clearly lighter.
  if (c.x == 0) return 0;
  const int down = D - O;
  if (c.HasBelow() && (d < 0 ? -d : d) < (down < 0 ? -down : down)) return pU;
  if (R - O > 30 && U - O > 30) return 0;
  return 255;
}
