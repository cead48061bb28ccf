// Decision rules for a grey pixel closer to the row below than to the row
// above.
//
// Contents
//   DecideCloserToBelow   the decided byte for such a pixel
//   (internal) DarkerThanAbove, LighterThanAbove, DarkLighterThanAbove
//
// Such a pixel belongs more to what follows than to what was decided above
// it: typically the first rows of a dark or light shape seen from its top
// edge.  The rules split three ways on O and U.

#include "adaptive/line_rules_internal.h"
#include "pixels.h"

namespace {

auto absDiff = [](int a, int b) { return a > b ? a - b : b - a; };

// O < U: the pixel is darker than the one above.  Unguarded reads of L and
// pL at x = 0 see the previous row's last bytes.
unsigned char DarkerThanAboveRules(const PixelContext& c) {
  const int O = c.O, U = c.U, L = c.L;
  const auto pU = static_cast<unsigned char>(c.pU);
  const auto pL = static_cast<unsigned char>(c.pL);
  const int A = c.dwColor;
  const bool x1 = c.x >= 1;

  if (c.HasRight() && c.R > 219 && O < 150) return 0;
  if (O <= 49) return 0;
  if (U > 219 && O < 181) return Within(O, L, 10) ? pL : 0;  // top edge under white
  if (c.x >= 3 && c.L2 < 50 && L < 80 && O > 99) return 255;
  if (O < 150 && U > 200) return 0;
  if (x1 && Within(O, L, 10)) return pL;
  if (Within(O, A, 10) && c.nTotalColor >= 6) return pU;
  if (O < L && pL == 0) return 0;
  if (Within(O, U, 10)) return pU;
  if (U - O < 30) {
    if (U - O <= 9) return x1 && Within(O, L, 19) && O > 179 ? 255 : pU;
    if (x1 && L - O > 50 && L > 199) return 0;
    if (Within(O, L, 19)) return pL;
    if (x1 && L > 200 && O < 150 && L - O > 35) return 0;
    if (O <= 150) return pU;
    return 255;
  }
  if (O >= 200) {  // light, but 30 or more below the pixel above
    if (U > 235 && U - O > 35) return 0;
    if (x1 && Within(O, L, 19)) return pL;
    return 255;
  }
  if (pU == 0 && O < A) return 0;
  if (x1 && L - O > 50) return 0;
  if (U > 234 && O < 200) return 0;
  if (O <= 80) return 0;
  if (L - O > 29) return O > 179 ? 255 : 0;
  if (Within(O, L, 10)) return pL;
  if (O > L || pL != 0) {
    if (U - O < 36) return 255;
    return O > 150 ? 255 : 0;
  }
  return 0;
}

// A dark pixel between lighter ones on the left is made black after all.
unsigned char DarkerThanAbove(const PixelContext& c) {
  unsigned char color = DarkerThanAboveRules(c);
  if (c.x < 1) return color;
  const int O = c.O, U = c.U, D = c.D, L = c.L, R = c.R;
  if (3 * c.x < c.nWidth - 1 && L - O > 35 && R - O > 35 && O <= 99) color = 0;
  if (L >= 200 && O <= 199) {
    if (c.pU == 0) {
      if (O <= 99) color = 0;
    } else if (c.HasBelow() && O > 100 && D <= 99) {
      color = O - D <= U - O ? 0 : 255;
    } else if (O <= 99) {
      color = 0;
    }
  }
  return color;
}

// O >= U and O >= 100: a light pixel at least as light as the one above.
unsigned char LighterThanAbove(const PixelContext& c) {
  const int O = c.O, U = c.U, D = c.D, L = c.L, R = c.R;
  const auto pU = static_cast<unsigned char>(c.pU);
  const auto pL = static_cast<unsigned char>(c.pL);
  const int A = c.dwColor;
  const bool x1 = c.x >= 1;

  if (Within(O, A, 5) && c.nTotalColor >= 5) return x1 && absDiff(O, A) > absDiff(O, L) ? pL : pU;
  if (c.HasRight() && O < 180 && R > 219) return 0;
  if (x1 && Within(L, O, 10)) return pL;
  if (c.x >= 3 && c.L2 < 50) return 255;
  if (x1 && O > L && pL == 255) return 255;
  if (c.x >= 2 && c.L2 < 50 && L < 70) return 255;
  if (O - L > 50) return 255;
  if (Within(O, U, 10)) return pU;
  if (x1 && c.HasRight() && O - L > 35 && O - R > 35) return 255;  // a light dot
  if (O - U < 20) {
    if (x1 && L - O > 35 && pL == 255) return 0;
    if (O < 151) return c.HasBelow() ? 255 : 0;
    return 255;
  }
  if (c.x == 0) return 255;
  if (L < 220) {
    if (L - O > 30 && R - O > 30) return 0;
    if (O - U >= 31 && O - D >= 31 && (Within(O, L, 34) || Within(O, R, 34))) return 255;
    if (O - L > 30 && pL == 0 && O > 149) return 255;
    if (Within(O, U, 19)) return pU;  // never true: O - U >= 20 below the block above
    if (pL == 255 && L - O >= 36) return O - U > 30 && O - D > 30 && O > 100 ? 255 : 0;
    if (O - L > 20) return 255;
    return pL;
  }
  // White on the left.
  if (Within(U, O, 19)) return pU;  // never true, as above
  if (Within(O, L, 19)) return pL;
  if (O > U && pU == 255) return 255;
  return absDiff(O, L) < 31 ? 255 : 0;
}

// O >= U and O <= 99: a dark pixel at least as light as the one above.
unsigned char DarkLighterThanAbove(const PixelContext& c) {
  const int O = c.O, U = c.U, D = c.D, L = c.L;
  const auto pU = static_cast<unsigned char>(c.pU);
  const auto pL = static_cast<unsigned char>(c.pL);
  const int A = c.dwColor;
  const bool x1 = c.x >= 1;

  if (Within(O, A, 9) && c.nTotalColor >= 5) return pU;
  if (c.HasRight() && c.R > 219) return 0;
  if (x1 && Within(L, O, 10)) return pL;
  if (c.x >= 2 && c.L2 < 30 && L < 50 && O > 90) return 255;
  if (O < 50) return 0;
  if (x1 && pL == 0 && O < L) return 0;
  if (x1 && L - O > 35 && pL == 255) return 0;
  if (x1 && O - L > 35 && O > 79) return 255;
  if (O - U > 35 && O > 79) return 255;
  if (c.HasBelow() && O - U > 35 && O - D > 35) {
    // White only when the two pixels to the right also step up from above;
    // these reads are unguarded and may run into the next row.
    const bool stepsRight = c.G(1, 0) - c.G(1, -1) > 35 && c.G(2, 0) - c.G(2, -1) > 35;
    return stepsRight ? 255 : 0;
  }
  if (O - L >= 36) return 255;
  if ((O > L && pL == 255) || (O > U && pU == 255)) return 255;
  return 0;
}

}  // namespace

// DecideCloserToBelow: the decision for pixel (x, y), y >= 1, |O-U| > |O-D|.
//   In:  c, the pixel's neighbourhood; its run average uses tolerance 10.
//   Out: 0, 255, or a copy of pU or pL.
//   Notes:
//   1. Three rule lists by O and U; in each the first rule that applies
//      decides.  A pixel darker than the one above is then corrected when it
//      is a dark pixel beside lighter ones (x >= 1 only).
//   2. Guards: conditions on L, L2 and R carry the column guards written
//      beside them; unguarded reads of L and pL at x = 0 see the previous
//      row's last bytes, unguarded reads of R and of the pixels two to the
//      right may run into the next row or the white margin.
unsigned char DecideCloserToBelow(const PixelContext& c) {
  if (c.O < c.U) return DarkerThanAbove(c);
  if (c.O >= 100) return LighterThanAbove(c);
  return DarkLighterThanAbove(c);
}
