// Fuzz target: the band scan that turns a picture into BITMAP commands.
//
// Input: stride - 1 (one byte, 1 to 64 bytes), rows (two bytes, 0 to 999),
// then the picture row by row; bytes the input does not reach are blank
// (0xFF), so short inputs are mostly white pages with a little ink.
//
// The commands are wrapped into a one-page label job and read back strictly
// (the reader of readlabel), then drawn: the drawing must give back the
// picture exactly, moved up by the top cut (the first inked row lands on row
// 80 at most), with no band drawn twice over the same row.  Nothing inked may
// be lost, nothing blank added.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "job_reader.h"
#include "label/bands.h"
#include "label/command_text.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t stride = 1 + data[0] % 64;
  const size_t rows = (data[1] | data[2] << 8) % 1000;
  data += 3;
  size -= 3;
  std::vector<unsigned char> picture(stride * rows, 0xFF);
  for (size_t i = 0; i < picture.size() && i < size; ++i) picture[i] = data[i];

  std::string job = "SIZE 10 mm, 10 mm\r\nCLS\r\n";
  for (const Band& band : FindBands(picture.data(), stride, rows)) AppendBitmap(job, band);
  job += "PRINT 1,1\r\n";
  LabelJob read = ParseLabelJob({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
  Check(!read.fault && read.pages.size() == 1);

  size_t firstInk = rows;
  for (size_t i = 0; i < picture.size(); ++i) {
    if (picture[i] != 0xFF) {
      firstInk = i / stride;
      break;
    }
  }
  const size_t cut = firstInk != rows && firstInk > 80 ? firstInk - 80 : 0;

  std::vector<unsigned char> drawn(picture.size(), 0xFF);
  std::vector<bool> rowTaken(rows, false);
  for (const Bitmap& b : read.pages[0].bitmaps) {
    const size_t left = b.x / 8, top = b.y + cut;
    Check(left + b.width <= stride && top + b.height <= rows);
    for (size_t r = 0; r < b.height; ++r) {
      Check(!rowTaken[top + r]);
      rowTaken[top + r] = true;
      for (size_t c = 0; c < b.width; ++c) {
        drawn[(top + r) * stride + left + c] = b.data[r * b.width + c];
      }
    }
  }
  Check(drawn == picture);
  return 0;
}
