// The printer's text command language: AppendSetup, AppendBitmap, AppendPrint.
#include "label/command_text.h"

#include <cstdio>

namespace {

template <typename... Args>
void Append(std::string& out, const char* format, Args... args) {
  char line[160];
  const int n = snprintf(line, sizeof line, format, args...);
  if (n > 0) out.append(line, static_cast<std::size_t>(n) < sizeof line ? n : sizeof line - 1);
}

}  // namespace

void AppendSetup(std::string& out, const LabelSetup& s) {
  Append(out, "SIZE %d mm, %d mm\r\n", s.widthMm, s.lengthMm);
  if (s.ribbon == Ribbon::kOff) out += "SET RIBBON OFF\r\n";
  if (s.ribbon == Ribbon::kOn) out += "SET RIBBON ON\r\n";
  switch (s.media) {
    case Media::kContinuous:
      out += "GAP 0 mm, 0 mm\r\n";
      break;
    case Media::kMarks:
      Append(out, "BLINE %s mm,0 mm\r\n", s.gapMm.c_str());
      break;
    case Media::kGaps:
      Append(out, "GAP %s mm,0 mm\r\n", s.gapMm.c_str());
      break;
    case Media::kOther:
      out += "GAP 2 mm,0 mm\r\n";
      break;
    case Media::kUnset:
      break;
  }
  // The offset is sent before and after the finishing lines.
  if (!s.offsetMm.empty()) Append(out, "OFFSET %s mm\r\n", s.offsetMm.c_str());
  out += "DIRECTION 0,0\r\nREFERENCE 0,0\r\n";
  switch (s.after) {
    case AfterPrint::kTearOff:
      out += "SET CUTTER OFF\r\nSET TEAR ON\r\nSET PEEL OFF\r\n";
      break;
    case AfterPrint::kPeelOff:
      out += "SET PEEL ON\r\nSET CUTTER OFF\r\nSET TEAR OFF\r\n";
      break;
    case AfterPrint::kBatch:
      out += "SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER BATCH\r\n";
      break;
    case AfterPrint::kCutEvery:
      if (!s.cutEvery.empty()) {
        Append(out, "SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER %s\r\n", s.cutEvery.c_str());
      }
      break;
    case AfterPrint::kUnset:
      break;
  }
  if (!s.offsetMm.empty()) Append(out, "OFFSET %s mm\r\n", s.offsetMm.c_str());
  if (!s.speed.empty()) Append(out, "SPEED %s\r\n", s.speed.c_str());
  if (!s.darkness.empty()) Append(out, "DENSITY %s\r\n", s.darkness.c_str());
  out += "CLS\r\n";
}

void AppendBitmap(std::string& out, const Band& band) {
  Append(out, "BITMAP %zu,%zu,%zu,%zu,1,", band.left * 8, band.top, band.width, band.height);
  for (std::size_t m = 0; m < band.height; ++m) {
    out.append(reinterpret_cast<const char*>(band.data + m * band.stride), band.width);
  }
  out += "\r\n";
}

void AppendPrint(std::string& out, int copies) { Append(out, "PRINT 1,%d\r\n", copies); }
