// Plain second implementation of the adaptive conversion; see the header.
//
// Contents
//   IsAnchor        row-by-row state machine over one finder pattern
//   IsRDCode        top-left finder, then the right and bottom finders
//   RunAverage      mean grey of the like-decided run above the pixel
//   RowAboveRules   family 1: pixel closer to the row above
//   RowBelowRules   family 5: pixel closer to the row below
//   ProcessLine     light pixels, first row, codes, run extension, fill
//   Color2BW        mode "None" of the page conversion and the packing

#include "adaptive_reference.h"

#include <cstddef>
#include <cstdlib>
#include <vector>

#include "convert/otsu.h"

namespace reference {

Rect TwoDimensionCodeRect[kCodeSlots] = {};

void ResetCodeRects() {
  for (Rect& r : TwoDimensionCodeRect) r = Rect{0, 0, 0, 0};
}

namespace {

// Byte offset of pixel (x, y).  Plain arithmetic on purpose: x = -1 on a row
// y >= 1 is the last three bytes of the row before, x = columns is the next
// row's first pixel (or the white margin after the last row).
std::ptrdiff_t At(int x, int y, int nWidth) {
  return static_cast<std::ptrdiff_t>(y) * nWidth + 3 * static_cast<std::ptrdiff_t>(x);
}

bool Within(int a, int b, int k) { return std::abs(a - b) <= k; }

}  // namespace

// Notes
//   1. x advances by one each time a row under the top band starts a ring row.
//   2. State is kept from row to row; nothing is reset at a row's end.
//   3. Reads P(i + 1) on the last column unguarded (next row or margin).
int IsAnchor(const unsigned char* pOrgPixel, int x, int y, int nWidth, int nHeight) {
  auto P = [&](int j, int r) { return static_cast<int>(pOrgPixel[At(j, r, nWidth)]); };
  const int nColumns = nWidth / 3;

  int nAnchorW = 0;
  int nStartPos = x;
  int nState = 0;
  int nStep = 0;
  int nLeftBandW = 0;
  int nMiddleBandW = 0;
  int nRightBandW = 0;
  int nMiddleBlackW = 0;
  int nRightPos = 0;
  int nEnd = 0;
  bool bFinish = false;

  for (int h = y; h < nHeight && !bFinish; ++h) {
    for (int i = x + 1; i < nColumns; ++i) {
      auto strong_rise = [&] { return P(i, h) - P(i - 1, h) > 35; };
      auto weak_rise = [&] { return P(i, h) - P(i - 1, h) > 20; };
      auto fall = [&] { return P(i - 1, h) - P(i, h) > 20 && P(i, h) < 150; };
      auto strong_fall_after = [&] { return P(i, h) - P(i + 1, h) > 35; };

      bool next_row = false;
      if (nState == 0) {
        if (strong_rise()) {
          if (nAnchorW == 0) {
            nAnchorW = i - x;
            nRightPos = i;
            nEnd = i;
          }
          if (P(i, h) > 200) {
            return (nMiddleBlackW != 0 && nStep == 5) ? nAnchorW : 0;
          }
          if (i - x == nAnchorW) {
            next_row = true;
          } else if (i - x < nAnchorW / 2) {
            if (nLeftBandW == 0) nLeftBandW = i - x;
            nState = 1;
            nStep = 1;
            nStartPos = i;
            ++x;
          }
        }
      } else if (nStep == 0) {
        if (P(x, h) > 199) {
          bFinish = true;
          break;
        }
        if (strong_rise()) {
          if (nLeftBandW == 0) nLeftBandW = i - nStartPos;
          if (Within(i - nStartPos, nAnchorW, 2)) {
            nStartPos = x;
            nStep = 5;
            nState = 0;
            next_row = true;
          } else {
            nStartPos = i;
            nStep = 1;
          }
        }
      } else if (nStep == 1) {
        if (fall()) {
          if (nMiddleBandW == 0) nMiddleBandW = i - nStartPos;
          nStep = (i - nStartPos < nMiddleBandW / 2) ? 3 : 2;
          nStartPos = i;
        }
      } else if (nStep == 2) {
        if (strong_rise()) {
          if (nRightBandW == 0) nRightBandW = i - nStartPos;
          if (i != nRightPos - 1 && i != nRightPos) return 0;
          nStartPos = x;
          nStep = 0;
          next_row = true;
        }
      } else if (nStep == 3) {
        if (weak_rise()) {
          if (nMiddleBlackW == 0) {
            if (i >= nEnd) return 0;
            nMiddleBlackW = i - nStartPos;
          }
          if (Within(i - nStartPos, nMiddleBandW, 2)) {
            nStartPos = i;
            nStep = 2;
          } else if (std::abs(i - nStartPos - nMiddleBlackW) > 5) {
            return 0;
          } else {
            nStartPos = i;
            nStep = 4;
          }
        }
      } else if (nStep == 4) {
        if (strong_fall_after()) {
          nStartPos = i;
          nStep = 2;
        }
      }
      if (next_row) break;
    }
  }

  if (nMiddleBlackW != 0 && nLeftBandW != 0 && nRightBandW != 0 && nMiddleBandW > nMiddleBlackW &&
      nAnchorW - nMiddleBandW >= 2) {
    return nAnchorW;
  }
  return 0;
}

// Notes
//   1. nAnchorW is the first finder's width throughout; the right and bottom
//      finders only confirm.
//   2. Only the first dark run of about the finder's width in each direction
//      is tried.
//   3. With all slots in use a confirmed code is not recorded and 0 returned.
int IsRDCode(const unsigned char* pOrgPixel, int x, int y, int nWidth, int nHeight) {
  auto P = [&](int j, int r) { return static_cast<int>(pOrgPixel[At(j, r, nWidth)]); };
  const int nAnchorW = IsAnchor(pOrgPixel, x, y, nWidth, nHeight);
  if (nAnchorW == 0) return 0;
  int nAnchorNum = 1;
  int nRight = 0;
  int nBottom = 0;

  int nStartPos = -1;
  for (int w = x + nAnchorW; w < nWidth / 3 - 1; ++w) {
    if (nStartPos == -1) {
      if (P(w, y) <= 99) nStartPos = w;
      continue;
    }
    if (P(w + 1, y) - P(w, y) > 20) {
      if (!Within(w - nStartPos, nAnchorW, 3)) {
        nStartPos = -1;
        continue;
      }
      if (IsAnchor(pOrgPixel, nStartPos, y, nWidth, nHeight) != 0) {
        nRight = nStartPos + nAnchorW;
        ++nAnchorNum;
      }
      break;
    }
  }

  nStartPos = -1;
  for (int h = y + nAnchorW; h < nHeight - 1; ++h) {
    if (nStartPos == -1) {
      if (P(x, h) <= 99) nStartPos = h;
      continue;
    }
    if (P(x, h + 1) - P(x, h) > 20) {
      if (!Within(h - nStartPos, nAnchorW, 3)) {
        nStartPos = -1;
        continue;
      }
      if (IsAnchor(pOrgPixel, x, nStartPos, nWidth, nHeight) != 0) {
        nBottom = nStartPos + nAnchorW;
        ++nAnchorNum;
      }
      break;
    }
  }

  if (nAnchorNum <= 1 || nRight - x <= 42) return 0;
  if (nBottom == 0) nBottom = y + (nRight - x);
  for (Rect& r : TwoDimensionCodeRect) {
    if (r.right == 0) {
      r = Rect{x, y, nRight, nBottom};
      return 1;
    }
  }
  return 0;
}

namespace {

// The neighbourhood of pixel (x, y) that the rules read.  L, pL at x = 0 and
// R at the last column are whatever bytes sit there in the buffers; each rule
// decides whether it may look at them.
struct Pixel {
  int x, y, nWidth, nHeight, nColumns;
  int O, U, D, L, L2, R, pU, pL;
};

// Mean grey and length of the run of row y - 1 from column x rightwards whose
// decisions equal pU and whose greys are within `tolerance` of U.
void RunAverage(const unsigned char* pPixel, const unsigned char* pOrgPixel, const Pixel& p,
                int tolerance, int& dwColor, int& nTotalColor) {
  int sum = 0;
  nTotalColor = 0;
  for (int c = p.x; 3 * c < p.nWidth; ++c) {
    const std::ptrdiff_t at = At(c, p.y - 1, p.nWidth);
    if (pPixel[at] != p.pU) break;
    if (!Within(pOrgPixel[at], p.U, tolerance)) break;
    sum += pOrgPixel[at];
    ++nTotalColor;
  }
  dwColor = sum / nTotalColor;
}

int RowAboveRules(const unsigned char* pPixel, const unsigned char* pOrgPixel, const Pixel& p) {
  const int O = p.O, U = p.U, D = p.D, L = p.L, R = p.R, pU = p.pU, pL = p.pL;
  const bool left = p.x >= 1;
  const bool right = p.x < p.nColumns - 1;
  const bool below = p.y < p.nHeight - 1;
  int A = 0;
  int n = 0;
  RunAverage(pPixel, pOrgPixel, p, 30, A, n);

  if (Within(O, A, 9) && n >= 5) return (left && L - O > 35 && O < 180) ? 0 : pU;
  if (O <= 49) return 0;
  if (O < U && pU == 0) return 0;
  if (left && Within(O, L, 9)) return pL;
  if (O >= 50 && O <= 99) {
    if (right && R > 199) return 0;
    if (O - U > 35 && O - D > 35) return 0;
    if (Within(O, L, 10)) return pL;  // no column guard: x = 0 reads the row before
    if (Within(O, U, 10)) return pU;
    return O - U > 30 ? 255 : 0;
  }
  if (O >= 100 && O <= 219 && U <= 99 && D <= 99) {
    if (R - O > 35 && O <= 149) return 0;
    if (Within(O, U, 29)) return pU;
    return 255;
  }
  const int d = O - U;
  if (O >= 100 && O <= 199) {
    if (D <= 99 && O - D >= 31) {
      if (U > 219 && O < 181) return 0;
      if (O - U > 19) return 255;
      return pU;
    }
    if (d > 30 && O - D > 30) return 255;
    if (Within(d, 0, 19)) return (left && O - L > 35 && O > 150) ? 255 : pU;
    if (left && Within(O, L, 10)) return pL;
    if (left && L <= 99 && U <= 99 && O > 100) return 255;
    if (d < 35) {
      if (below && D - O > 35 && D > 199) return 0;
      return O < 151 ? pU : 255;
    }
    return 255;
  }
  // 200 <= O <= 219
  if (d > 35 && U > 149) return 255;
  if (Within(d, 0, 20)) return pU;
  if (d > 20) return 255;
  if (p.x == 0) return 0;
  if (below && std::abs(d) < std::abs(D - O)) return pU;
  if (R - O > 30 && U - O > 30) return 0;
  return 255;
}

int BranchDarker(const Pixel& p, int A, int n) {
  const int O = p.O, U = p.U, L = p.L, L2 = p.L2, R = p.R, pU = p.pU, pL = p.pL;
  const int x = p.x;
  const bool right = x < p.nColumns - 1;
  if (right && R > 219 && O < 150) return 0;
  if (O <= 49) return 0;
  if (U > 219 && O < 181) return Within(O, L, 10) ? pL : 0;
  if (x >= 3 && L2 < 50 && L < 80 && O > 99) return 255;
  if (O < 150 && U > 200) return 0;
  if (x >= 1 && Within(O, L, 10)) return pL;
  if (Within(O, A, 10) && n >= 6) return pU;
  if (O < L && pL == 0) return 0;
  if (Within(O, U, 10)) return pU;
  if (U - O < 30) {
    if (U - O <= 9) return (x >= 1 && Within(O, L, 19) && O > 179) ? 255 : pU;
    if (x >= 1 && L - O > 50 && L > 199) return 0;
    if (Within(O, L, 19)) return pL;
    if (x >= 1 && L > 200 && O < 150 && L - O > 35) return 0;
    if (O <= 150) return pU;
    return 255;
  }
  if (O >= 200) {
    if (U > 235 && U - O > 35) return 0;
    if (x >= 1 && Within(O, L, 19)) return pL;
    return 255;
  }
  if (pU == 0 && O < A) return 0;
  if (x >= 1 && L - O > 50) return 0;
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

int CorrectDarker(const Pixel& p, int color) {
  const int O = p.O, U = p.U, D = p.D, L = p.L, R = p.R, pU = p.pU;
  if (p.x < 1) return color;
  if (3 * p.x < p.nWidth - 1) {
    if (L - O > 35 && R - O > 35 && O <= 99) color = 0;
  }
  if (L >= 200 && O <= 199) {
    if (pU == 0) {
      if (O <= 99) color = 0;
    } else if (p.y < p.nHeight - 1 && O > 100 && D <= 99) {
      color = (O - D <= U - O) ? 0 : 255;
    } else if (O <= 99) {
      color = 0;
    }
  }
  return color;
}

int BranchLighterMid(const Pixel& p, int A, int n) {
  const int O = p.O, U = p.U, D = p.D, L = p.L, L2 = p.L2, R = p.R, pU = p.pU, pL = p.pL;
  const int x = p.x;
  const bool right = x < p.nColumns - 1;
  const bool below = p.y < p.nHeight - 1;
  if (Within(O, A, 5) && n >= 5) return (x >= 1 && std::abs(O - A) > std::abs(O - L)) ? pL : pU;
  if (right && O < 180 && R > 219) return 0;
  if (x >= 1 && Within(L, O, 10)) return pL;
  if (x >= 3 && L2 < 50) return 255;
  if (x >= 1 && O > L && pL == 255) return 255;
  if (x >= 2 && L2 < 50 && L < 70) return 255;
  if (O - L > 50) return 255;
  if (Within(O, U, 10)) return pU;
  if (x >= 1 && right && O - L > 35 && O - R > 35) return 255;
  if (O - U < 20) {
    if (x >= 1 && L - O > 35 && pL == 255) return 0;
    if (O < 151) return below ? 255 : 0;
    return 255;
  }
  if (x == 0) return 255;
  if (L < 220) {
    if (L - O > 30 && R - O > 30) return 0;
    if (O - U >= 31 && O - D >= 31 && (Within(O, L, 34) || Within(O, R, 34))) return 255;
    if (O - L > 30 && pL == 0 && O > 149) return 255;
    if (Within(O, U, 19)) return pU;
    if (pL == 255 && L - O >= 36) return (O - U > 30 && O - D > 30 && O > 100) ? 255 : 0;
    if (O - L > 20) return 255;
    return pL;
  }
  if (Within(U, O, 19)) return pU;
  if (Within(O, L, 19)) return pL;
  if (O > U && pU == 255) return 255;
  return std::abs(O - L) < 31 ? 255 : 0;
}

int BranchLighterDark(const unsigned char* pOrgPixel, const Pixel& p, int A, int n) {
  const int O = p.O, U = p.U, D = p.D, L = p.L, L2 = p.L2, R = p.R, pU = p.pU, pL = p.pL;
  const int x = p.x, y = p.y;
  auto P = [&](int j, int r) { return static_cast<int>(pOrgPixel[At(j, r, p.nWidth)]); };
  const bool right = x < p.nColumns - 1;
  const bool below = y < p.nHeight - 1;
  if (Within(O, A, 9) && n >= 5) return pU;
  if (right && R > 219) return 0;
  if (x >= 1 && Within(L, O, 10)) return pL;
  if (x >= 2 && L2 < 30 && L < 50 && O > 90) return 255;
  if (O < 50) return 0;
  if (x >= 1 && pL == 0 && O < L) return 0;
  if (x >= 1 && L - O > 35 && pL == 255) return 0;
  if (x >= 1 && O - L > 35 && O > 79) return 255;
  if (O - U > 35 && O > 79) return 255;
  if (below && O - U > 35 && O - D > 35) {
    return (P(x + 1, y) - P(x + 1, y - 1) > 35 && P(x + 2, y) - P(x + 2, y - 1) > 35) ? 255 : 0;
  }
  if (O - L >= 36) return 255;
  if ((O > L && pL == 255) || (O > U && pU == 255)) return 255;
  return 0;
}

int RowBelowRules(const unsigned char* pPixel, const unsigned char* pOrgPixel, const Pixel& p) {
  int A = 0;
  int n = 0;
  RunAverage(pPixel, pOrgPixel, p, 10, A, n);
  if (p.O < p.U) return CorrectDarker(p, BranchDarker(p, A, n));
  if (p.O >= 100) return BranchLighterMid(p, A, n);
  return BranchLighterDark(pOrgPixel, p, A, n);
}

}  // namespace

int ProcessLine(unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
                int nHeight) {
  auto P = [&](int j, int r) { return static_cast<int>(pOrgPixel[At(j, r, nWidth)]); };
  const std::ptrdiff_t here = At(x, y, nWidth);
  Pixel p{};
  p.x = x;
  p.y = y;
  p.nWidth = nWidth;
  p.nHeight = nHeight;
  p.nColumns = nWidth / 3;
  p.O = pOrgPixel[here];

  // 1. Light pixel.
  if (p.O >= 220) {
    pPixel[here] = pPixel[here + 1] = pPixel[here + 2] = 255;
    return 1;
  }

  // Neighbours; reads that no rule may make on this pixel are left at 0.
  p.R = pOrgPixel[here + 3];
  p.D = pOrgPixel[here + nWidth];
  if (y >= 1 || x >= 1) {
    p.L = pOrgPixel[here - 3];
    p.pL = pPixel[here - 3];
  }
  if (x >= 2) p.L2 = pOrgPixel[here - 6];
  if (y >= 1) {
    p.U = pOrgPixel[here - nWidth];
    p.pU = pPixel[here - nWidth];
  }

  // 2, 3. Family.
  int color = 0;
  if (y == 0) {
    if (x == 0 && p.O < 200) {
      color = 0;
    } else if (x >= 1 && std::abs(p.O - p.L) <= 19) {
      color = p.pL;
    } else {
      color = p.O >= 100 ? 255 : 0;
    }
  } else if (std::abs(p.O - p.U) <= std::abs(p.O - p.D)) {
    color = RowAboveRules(pPixel, pOrgPixel, p);
  } else {
    color = RowBelowRules(pPixel, pOrgPixel, p);
  }

  // 4. Code rectangle.
  bool bWord = true;
  Rect QDRect{0, 0, 0, 0};
  auto find_rect = [&] {
    for (const Rect& r : TwoDimensionCodeRect) {
      if (r.right > 0 && r.left <= x && x <= r.right && r.top <= y && y <= r.bottom) {
        QDRect = r;
        bWord = false;
        return;
      }
    }
  };
  find_rect();
  if (bWord && color == 0) {
    if (IsRDCode(pOrgPixel, x, y, nWidth, nHeight) == 1) find_rect();
  }

  // 5. Border.
  const bool bBorder =
      (x >= 1 && 3 * (x + 1) < nWidth && p.O - p.L > 35) || (p.O <= 99 && p.R >= 101);

  // 6. Run extension.
  bool bSeperator = false;
  int i = x;
  for (; i < p.nColumns - 1; ++i) {
    if (bBorder) break;
    const int next = P(i + 1, y);
    if (color != 0) {
      if (std::abs(next - p.O) > 10) break;
      if (y >= 1) {
        const int decided_above = pPixel[At(i + 1, y - 1, nWidth)];
        const int grey_above = P(i + 1, y - 1);
        if (decided_above != color) {
          if (Within(grey_above, next, 9)) break;
        } else {
          if (std::abs(grey_above - next) > 35) break;
        }
      }
      if (next <= 149) break;
    } else {
      const int cur = P(i, y);
      if (!bWord && !bSeperator && cur > 100) {
        int count = 0;
        for (int r = y; r < nHeight && count < 4; ++r) {
          if (P(i, r) <= 100) break;
          ++count;
        }
        if (count >= 3) bSeperator = true;
      }
      if (bSeperator && cur > 100) {
        for (int r = y; r < nHeight && r <= QDRect.bottom && P(i, r) > 100; ++r) {
          pPixel[At(i, r, nWidth)] = 255;
        }
      }
      if (!bWord && cur > 100) pPixel[At(i, y, nWidth)] = 255;
      if (std::abs(next - p.O) > 10) break;
      if (next > 234) break;
      if (!(y == 0 && i == 0)) {
        const int before = P(i - 1, y);
        if (cur > 99 && before <= 99 && cur - before > 19) break;
      }
      if (cur > 149) break;
    }
  }
  const int num = i;

  // 7. Fill.
  for (int j = x; j <= num; ++j) {
    const std::ptrdiff_t at = At(j, y, nWidth);
    if (pPixel[at] != 255) {
      pPixel[at] = pPixel[at + 1] = pPixel[at + 2] = static_cast<unsigned char>(color);
    }
  }
  return 1;
}

void Color2BW(unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy, int nBytePerRow) {
  const std::size_t cjBits = static_cast<std::size_t>(nBytePerRow) * cy;
  std::vector<unsigned char> snapshot(2 * cjBits, 0xFF);
  otsu(pvBits, nBytePerRow, cy, 24, 100);
  for (std::size_t k = 0; k < cjBits; ++k) snapshot[k] = pvBits[k];

  for (int h = 0; h < cy; ++h) {
    for (int w = 0; w < cx; ++w) {
      const std::ptrdiff_t at = At(w, h, nBytePerRow);
      const int pixel = (pvBits[at] + pvBits[at + 1] + pvBits[at + 2]) / 3;
      if (pixel == 0 || pixel == 255) continue;
      ProcessLine(pvBits, snapshot.data(), w, h, nBytePerRow, cy);
    }
  }

  const int xx = ((cx + 31) >> 5) * 4;
  for (int h = 0; h < cy; ++h) {
    for (int w = 0; w < cx; ++w) {
      const std::ptrdiff_t at = At(w, h, nBytePerRow);
      if (pvBits[at] == 0 && pvBits[at + 1] == 0 && pvBits[at + 2] == 0) {
        pDataBuf[static_cast<std::size_t>(h) * xx + w / 8] &=
            static_cast<unsigned char>(~(0x80 >> (w % 8)));
      }
    }
  }
}

}  // namespace reference
