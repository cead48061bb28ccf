// Label command output: ProcessData and the band scan.
//
// A page's job is built whole in one string (setup commands, bitmap commands,
// print command) and handed to standard output in a single write, so that a
// cancelled or failing job never leaves half a label in the stream.
#include "label/label_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "label/label_settings.h"
#include "log.h"
#include "label/orientation.h"

namespace {

constexpr size_t kTopRows = 80;  // first band never starts below this row

size_t BitmapStride(int widthDots) { return ((static_cast<size_t>(widthDots) + 31) >> 5) * 4; }

}  // namespace

void AppendBitmapCommands(std::string& pData, const unsigned char* pBuf, size_t nImageWidth,
                          size_t nImageHeight) {
  long nStartRow = -1;
  long nLeft = -1;
  long nRight = 0;
  bool nPicture = false;
  bool bInit = false;
  size_t nIgnoreRow = 0;
  char head[96];

  for (size_t j = 0; j < nImageHeight; ++j) {
    const unsigned char* row = pBuf + j * nImageWidth;
    bool nFindPicture = false;
    // Only the outermost inked bytes of the row matter for the band's extent.
    size_t first = 0;
    while (first < nImageWidth && row[first] == 0xFF) ++first;
    if (first < nImageWidth) {
      size_t last = nImageWidth - 1;
      while (row[last] == 0xFF) --last;
      if (nStartRow == -1) nStartRow = static_cast<long>(j);
      if (!bInit) {
        if (j > kTopRows) nIgnoreRow = j - kTopRows;
        bInit = true;
      }
      nFindPicture = nPicture = true;
      if (static_cast<long>(last) > nRight) nRight = static_cast<long>(last);
      if (nLeft == -1 || static_cast<long>(first) < nLeft) nLeft = static_cast<long>(first);
    }
    bool lastRow = j == nImageHeight - 1;
    if (nPicture == nFindPicture && !lastRow) continue;
    if (!nPicture) continue;

    size_t h = j - static_cast<size_t>(nStartRow) + (lastRow && nFindPicture ? 1 : 0);
    size_t w = static_cast<size_t>(nRight - nLeft + 1);
    int n = snprintf(head, sizeof head, "BITMAP %ld,%ld,%zu,%zu,1,", nLeft * 8,
                     nStartRow - static_cast<long>(nIgnoreRow), w, h);
    pData.append(head, static_cast<size_t>(n));
    for (size_t m = 0; m < h; ++m) {
      pData.append(reinterpret_cast<const char*>(pBuf + (nStartRow + m) * nImageWidth + nLeft), w);
    }
    pData.append("\r\n");
    nStartRow = -1;
    nPicture = false;
    nLeft = -1;
    nRight = 0;
  }
}

bool ProcessData(ppd_file_t* ppd, cups_page_header2_t* header, unsigned char* pDataBuf, int biWidth,
                 int biHeight) {
  size_t nImageWidth =
      header->cupsBitsPerPixel == 1 ? header->cupsBytesPerLine : BitmapStride(biWidth);
  size_t nImageHeight = static_cast<size_t>(biHeight);
  unsigned char* pBuf = pDataBuf;
  LabelSettings settings = ReadLabelSettings(ppd, *header, static_cast<int>(nImageWidth), biHeight);

  // Orientation: each geometric step makes a new picture; the negative works
  // in place on whatever picture is current.
  std::vector<unsigned char> pBuf180, pBuf90, pMirror;
  bool ok = true;
  int pictureWidth = biWidth;
  // An empty picture has nothing to turn; only its geometry changes.
  const bool empty = biWidth <= 0 || biHeight <= 0;
  if ((settings.nDirection == 2 || settings.nDirection == 3) && !empty) {
    pBuf180 = Rotate180(pBuf, biWidth, static_cast<int>(nImageWidth), biHeight);
    pBuf = pBuf180.data();
  }
  fprintf(stderr, "ERROR: ProcessDatan Direction == 1 || nDirection == 3\n");
  if (settings.nDirection == 1 || settings.nDirection == 3) {
    nImageHeight = static_cast<size_t>(biWidth);
    fprintf(stderr, "ERROR: ProcessData Rotate90Degrees\n");
    if (!empty) {
      pBuf90 = Rotate90Degrees(pBuf, biWidth, biHeight, static_cast<int>(nImageWidth));
      pBuf = pBuf90.data();
    }
    nImageWidth = BitmapStride(biHeight);
    pictureWidth = biHeight;
  }
  fprintf(stderr, "ERROR: ProcessDatan nMirror=%d\n", settings.nMirror);
  if (settings.nMirror == 1) {
    fprintf(stderr, "ERROR: ProcessData MirrorPicture\n");
  }
  if (settings.nMirror == 1 && !empty) {
    try {
      pMirror = MirrorPicture(pictureWidth, static_cast<int>(nImageHeight),
                              static_cast<int>(nImageWidth), pBuf);
      pBuf = pMirror.data();
    } catch (const std::bad_alloc&) {
      // The label still goes out, unmirrored, but the job reports the fault.
      fprintf(stderr, "ERROR: Unable to allocate memory to mirror the page\n");
      ok = false;
    }
  }
  fprintf(stderr, "ERROR: ProcessDatan nInverse=%d\n", settings.nInverse);
  if (settings.nInverse == 1) {
    fprintf(stderr, "ERROR: ProcessData nInverse\n");
    NegatePicture(pBuf, nImageWidth * nImageHeight);
  }

  // The text is sized to what it will hold: the setup text, and at most the
  // whole picture plus one command head per band (a band needs an inked row
  // and, but for the last, a blank row after it).
  std::string pData;
  pData.reserve(1024 + nImageWidth * nImageHeight + (nImageHeight / 2 + 1) * 64);
  fprintf(stderr, "ERROR: ProcessData malloc pData=%x\n", LogAddr(pData.data()));
  AppendSetupCommands(pData, ppd, settings);
  EchoCommandText(pData);
  fprintf(stderr, "ERROR: ProcessData nOffset=%d\n", static_cast<int>(pData.size()));

  AppendBitmapCommands(pData, pBuf, nImageWidth, nImageHeight);
  char print[32];
  int n = snprintf(print, sizeof print, "PRINT 1,%d\r\n", settings.dwCopies);
  pData.append(print, static_cast<size_t>(n));

  bool written = fwrite(pData.data(), 1, pData.size(), stdout) == pData.size();
  // Flushed per page so that the printer starts on a label while later pages
  // are still being converted, and a failing stream is noticed at its page.
  written = fflush(stdout) == 0 && written;
  fprintf(stderr, "ERROR: save data to Nemi-filter DataLength=%d sizeof(nOffset)=%d\n",
          static_cast<int>(pData.size()), 4);
  if (!written) fprintf(stderr, "ERROR: Unable to write the label job: %s\n", strerror(errno));
  fprintf(stderr, "ERROR: free pzlibBuf=%x\n", 0u);
  fprintf(stderr, "ERROR: free pMirror=%x\n", pMirror.empty() ? 0u : LogAddr(pMirror.data()));
  fprintf(stderr, "ERROR: free pBuf180=%x\n", pBuf180.empty() ? 0u : LogAddr(pBuf180.data()));
  fprintf(stderr, "ERROR: free pBuf90=%x\n", pBuf90.empty() ? 0u : LogAddr(pBuf90.data()));
  fprintf(stderr, "ERROR: free pData=%x\n", LogAddr(pData.data()));
  fprintf(stderr, "ERROR: ProcessData return\n");
  return written && ok;
}
