// Fuzz target: the orientation steps on pictures of any size and stride.
//
// Input: width - 1 (two bytes, 1 to 320 dots), rows (one byte, 0 to 255),
// stride bytes beyond the width's need (one byte, 0 to 7), then the picture,
// padding bits included; bytes the input does not reach are 0xFF.
//
// Each step is checked dot by dot against its definition, and every bit of
// the result outside the picture must be 1:
//   Rotate180        dot (r, p) is source dot (rows - 1 - r, width - 1 - p)
//   Rotate90Degrees  dot (x, i) is source dot (rows - 1 - i, x), at a 32-dot
//                    stride
//   MirrorPicture    dot (r, p) is source dot (r, width - 1 - p)
//   NegatePicture    every byte complemented
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "label/orientation.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct View {
  size_t width, rows, stride;
  const Bytes& bytes;
  bool Ink(size_t r, size_t p) const { return !(bytes[r * stride + p / 8] & (0x80 >> p % 8)); }
};

void Check(bool ok) {
  if (!ok) abort();
}

// The result must be exactly stride x rows bytes, the dots ink(r, p) says
// and every other bit 1.
template <typename Ink>
void Expect(const Bytes& got, size_t width, size_t rows, size_t stride, Ink ink) {
  Bytes want(stride * rows, 0xFF);
  for (size_t r = 0; r < rows; ++r) {
    for (size_t p = 0; p < width; ++p) {
      if (ink(r, p)) want[r * stride + p / 8] &= static_cast<unsigned char>(~(0x80 >> p % 8));
    }
  }
  Check(got == want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t width = 1 + (data[0] | data[1] << 8) % 320;
  const size_t rows = data[2];
  const size_t stride = (width + 7) / 8 + (data[3] & 7);
  data += 4;
  size -= 4;
  Bytes src(stride * rows, 0xFF);
  for (size_t i = 0; i < src.size() && i < size; ++i) src[i] = data[i];
  const View s{width, rows, stride, src};
  const int w = static_cast<int>(width), h = static_cast<int>(rows), st = static_cast<int>(stride);

  Expect(Rotate180(src.data(), w, st, h), width, rows, stride,
         [&](size_t r, size_t p) { return s.Ink(rows - 1 - r, width - 1 - p); });
  Expect(Rotate90Degrees(src.data(), w, h, st), rows, width, (rows + 31) / 32 * 4,
         [&](size_t x, size_t i) { return s.Ink(rows - 1 - i, x); });
  Expect(MirrorPicture(w, h, st, src.data()), width, rows, stride,
         [&](size_t r, size_t p) { return s.Ink(r, width - 1 - p); });

  Bytes negative(src);
  NegatePicture(negative.data(), negative.size());
  for (size_t i = 0; i < src.size(); ++i) Check(negative[i] == static_cast<unsigned char>(~src[i]));
  return 0;
}
