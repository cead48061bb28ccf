// Label output: ComposeLabelJob and ProcessData.
//
// A page's job is built whole in one string and handed to standard output in a single write, so
// that a cancelled or failing job never leaves half a label in the stream.
#include "label/label_output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "label/bands.h"
#include "label/command_text.h"
#include "label/label_settings.h"
#include "label/orientation.h"
#include "log.h"
#include "pixels.h"

namespace {

// Logs each "\r\n"-ended line of the setup text.
void EchoCommandText(const std::string& text) {
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    // Lines are logged up to 254 characters, as the scheduler's log takes them.
    const std::size_t len = std::min<std::size_t>(end - start, 254);
    Debug("Print Code=%.*s", static_cast<int>(len), text.c_str() + start);
  }
}

// The head's width in dots, from the widest label in points; 0 when not stated.  Rounded up:
// a label of exactly that width is never cut.
std::size_t HeadDots(const Choices& choices, unsigned dpi) {
  const double points = choices.LargestWidthPoints();
  return points > 0 && dpi > 0 ? static_cast<std::size_t>(std::ceil(points * dpi / 72.0)) : 0;
}

// Blanks every dot from column `dots` on in the rows of a picture.
void ClipPicture(unsigned char* picture, std::size_t stride, std::size_t rows, std::size_t dots) {
  const std::size_t keep = dots / 8;
  const auto tail = static_cast<unsigned char>(0xFF >> (dots % 8));
  for (std::size_t j = 0; j < rows; ++j) {
    unsigned char* row = picture + j * stride;
    if (dots % 8 != 0) row[keep] |= tail;
    std::fill(row + (dots + 7) / 8, row + stride, 0xFF);
  }
}

}  // namespace

PageLabel ComposeLabelJob(const Choices& choices, const cups_page_header2_t& header,
                          unsigned char* pDataBuf, int biWidth, int biHeight, int page) {
  std::size_t nImageWidth =
      header.cupsBitsPerPixel == 1 ? header.cupsBytesPerLine : BitmapStride(biWidth);
  std::size_t nImageHeight = static_cast<std::size_t>(biHeight);
  unsigned char* pBuf = pDataBuf;
  LabelSettings settings =
      ReadLabelSettings(choices, header, static_cast<int>(nImageWidth), biHeight);
  PageLabel job;
  job.page = page;
  job.copies = settings.dwCopies;
  const unsigned dpi = header.HWResolution[0];
  Info("Label %d: %s, %u dpi, %d %s", page,
       DescribeLabelSize(header.PageSize[0], header.PageSize[1]).c_str(), dpi, job.copies,
       job.copies == 1 ? "copy" : "copies");

  // Orientation: each geometric step makes a new picture; the negative works in place on
  // whatever picture is current.  An empty picture has nothing to turn; only its geometry
  // changes.
  int pictureWidth = biWidth;
  const bool empty = biWidth <= 0 || biHeight <= 0;
  if ((settings.nDirection == 2 || settings.nDirection == 3) && !empty) {
    job.pBuf180 = Rotate180(pBuf, biWidth, static_cast<int>(nImageWidth), biHeight);
    pBuf = job.pBuf180.data();
  }
  Debug("ProcessDatan Direction == 1 || nDirection == 3");
  if (settings.nDirection == 1 || settings.nDirection == 3) {
    nImageHeight = static_cast<std::size_t>(biWidth);
    Debug("ProcessData Rotate90Degrees");
    if (!empty) {
      job.pBuf90 = Rotate90Degrees(pBuf, biWidth, biHeight, static_cast<int>(nImageWidth));
      pBuf = job.pBuf90.data();
    }
    nImageWidth = BitmapStride(biHeight);
    pictureWidth = biHeight;
  }
  Debug("ProcessDatan nMirror=%d", settings.nMirror);
  if (settings.nMirror == 1) Debug("ProcessData MirrorPicture");
  if (settings.nMirror == 1 && !empty) {
    try {
      job.pMirror = MirrorPicture(pictureWidth, static_cast<int>(nImageHeight),
                                  static_cast<int>(nImageWidth), pBuf);
      pBuf = job.pMirror.data();
    } catch (const std::bad_alloc&) {
      Error("Unable to allocate memory to mirror label %d", page);
      job.mirrorFailed = true;
    }
  }
  Debug("ProcessDatan nInverse=%d", settings.nInverse);
  if (settings.nInverse == 1) {
    Debug("ProcessData nInverse");
    NegatePicture(pBuf, nImageWidth * nImageHeight);
  }

  LabelSetup setup = ReadLabelSetup(choices, settings);
  // A label wider than the printer's head: what lies beyond the head cannot be printed, and a
  // SIZE beyond it is no label the printer knows.
  const std::size_t head = HeadDots(choices, dpi);
  const int headMm = static_cast<int>(choices.LargestWidthPoints() * 25.4 / 72.0);
  const bool tooWide = static_cast<std::size_t>(pictureWidth) > head || setup.widthMm > headMm;
  if (head > 0 && tooWide) {
    Warning("Label %d is %d mm wide, wider than the %d mm print head: printed cut to %d mm",
            page, setup.widthMm, headMm, headMm);
    setup.widthMm = std::min(setup.widthMm, headMm);
    if (!empty && static_cast<std::size_t>(pictureWidth) > head) {
      ClipPicture(pBuf, nImageWidth, nImageHeight, head);
    }
  }

  // The text is sized to what it will hold: the setup text, and at most the whole picture plus
  // one command head per band (a band needs an inked row and, but for the last, a blank row
  // after it).
  job.text.reserve(1024 + nImageWidth * nImageHeight + (nImageHeight / 2 + 1) * 64);
  Debug("ProcessData malloc pData=%x", LogAddr(job.text.data()));
  AppendSetup(job.text, setup);
  EchoCommandText(job.text);
  Debug("ProcessData nOffset=%d", static_cast<int>(job.text.size()));
  for (const Band& band : FindBands(pBuf, nImageWidth, nImageHeight)) AppendBitmap(job.text, band);
  AppendPrint(job.text, job.copies);
  return job;
}

bool ProcessData(const Choices& choices, const cups_page_header2_t& header, unsigned char* pDataBuf,
                 int biWidth, int biHeight, int page, int& copies) {
  copies = 0;
  PageLabel job = ComposeLabelJob(choices, header, pDataBuf, biWidth, biHeight, page);
  bool written = fwrite(job.text.data(), 1, job.text.size(), stdout) == job.text.size();
  // Flushed per page so that the printer starts on a label while later pages are still being
  // converted, and a failing stream is noticed at its page.
  written = fflush(stdout) == 0 && written;
  const int writeError = errno;
  Debug("save data to Nemi-filter DataLength=%d sizeof(nOffset)=%d",
        static_cast<int>(job.text.size()), 4);
  if (!written && writeError == EPIPE) {
    Error("Unable to write label %d: the printer connection was closed", page);
  } else if (!written) {
    Error("Unable to write label %d: %s", page, strerror(writeError));
  } else {
    PageDone(page, job.copies);
    copies = job.copies;
  }
  Debug("free pzlibBuf=%x", 0u);
  Debug("free pMirror=%x", job.pMirror.empty() ? 0u : LogAddr(job.pMirror.data()));
  Debug("free pBuf180=%x", job.pBuf180.empty() ? 0u : LogAddr(job.pBuf180.data()));
  Debug("free pBuf90=%x", job.pBuf90.empty() ? 0u : LogAddr(job.pBuf90.data()));
  Debug("free pData=%x", LogAddr(job.text.data()));
  Debug("ProcessData return");
  FlushLog();  // the label is out: so is what the log says of it
  return written && !job.mirrorFailed;
}
