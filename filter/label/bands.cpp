// The band scan: FindBands.
#include "label/bands.h"

namespace {

constexpr std::size_t kTopRows = 80;  // the first band never starts below this row

}  // namespace

std::vector<Band> FindBands(const unsigned char* pBuf, std::size_t nImageWidth,
                            std::size_t nImageHeight) {
  std::vector<Band> bands;
  bool open = false;  // a band is open: its rows so far all hold ink
  std::size_t nStartRow = 0, nLeft = 0, nRight = 0;
  std::size_t nIgnoreRow = 0;  // rows cut from the top, fixed by the first inked row
  bool bInit = false;

  auto close = [&](std::size_t endRow) {
    bands.push_back(Band{nLeft, nStartRow - nIgnoreRow, nRight - nLeft + 1, endRow - nStartRow,
                         pBuf + nStartRow * nImageWidth + nLeft, nImageWidth});
    open = false;
  };
  for (std::size_t j = 0; j < nImageHeight; ++j) {
    const unsigned char* row = pBuf + j * nImageWidth;
    // Only the outermost inked bytes of a row matter for the band's extent.
    std::size_t first = 0;
    while (first < nImageWidth && row[first] == 0xFF) ++first;
    if (first == nImageWidth) {
      if (open) close(j);
      continue;
    }
    std::size_t last = nImageWidth - 1;
    while (row[last] == 0xFF) --last;
    if (!bInit) {
      if (j > kTopRows) nIgnoreRow = j - kTopRows;
      bInit = true;
    }
    if (!open) {
      open = true;
      nStartRow = j;
      nLeft = first;
      nRight = last;
    } else {
      if (first < nLeft) nLeft = first;
      if (last > nRight) nRight = last;
    }
  }
  if (open) close(nImageHeight);
  return bands;
}
