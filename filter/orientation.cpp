// Orientation of the page bitmap: 180-degree and 90-degree turns, mirror and
// negative.
//
// Contents
//   Rotate180        rows taken bottom to top, each reversed by ReverseRow
//   Rotate90Degrees  8 x 8 dot blocks, each transposed in one 64-bit word
//   MirrorPicture    each row reversed in place by ReverseRow
//   NegatePicture    byte complement
//
// Internal kernels
//   LoadBE64 / StoreBE64  eight bytes as a word whose top bit is the first dot
//   Reverse64             reverses the order of the 64 bits of a word
//   Transpose8x8          transposes an 8 x 8 bit block held in a word
//   ReverseRow            writes the first w dots of a row in reverse order
//
// All kernels move whole bytes or words; the results are the same, bit for
// bit, as moving one dot at a time.
#include "orientation.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

using Word = std::uint64_t;

// Eight bytes as a word whose most significant bit is the leftmost dot, so
// that shifting the word left moves the dots to the left.
Word LoadBE64(const unsigned char* p) {
  Word v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

void StoreBE64(unsigned char* p, Word v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

Word Reverse64(Word v) {
  v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
  v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
  v = ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
  return __builtin_bswap64(v);
}

// Transposes an 8 x 8 block of bits: byte k of the word (k = 0 the most
// significant) is block row k, and its bit 7 - j is block column j.  Dot
// (k, j) moves to (j, k).  Three rounds swap 1 x 1, 2 x 2 and 4 x 4 sub-blocks
// across the diagonal.
Word Transpose8x8(Word x) {
  Word t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
  x ^= t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
  x ^= t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
  x ^= t ^ (t << 28);
  return x;
}

// Writes dots 0 .. w-1 of src to dst in reverse order: dst dot p = src dot
// w - 1 - p.
//   Notes:
//     1. Reads only the (w + 7) / 8 bytes of src that hold the w dots, and
//        never lets a bit beyond dot w - 1 of src into dst.
//     2. Writes only the (w + 7) / 8 bytes of dst that receive dots; the bits
//        beyond dot w - 1 in the last of them are set to 1.
//     3. w >= 1.
void ReverseRow(const unsigned char* src, unsigned char* dst, size_t w) {
  // dst word k (dots 64k .. 64k+63) is the reverse of the 64 source dots that
  // start at dot w - 64(k+1).  All those windows start at the same bit offset
  // t inside a byte, so each is one 8-byte load, plus one byte when t > 0.
  const size_t nWords = w / 64;
  const unsigned t = static_cast<unsigned>(w % 8);
  for (size_t k = 0; k < nWords; ++k) {
    const unsigned char* p = src + (w - 64 * (k + 1)) / 8;
    Word v = LoadBE64(p);
    if (t != 0) v = (v << t) | (p[8] >> (8 - t));
    StoreBE64(dst + 8 * k, Reverse64(v));
  }

  // The remaining rem < 64 dots of dst come from source dots 0 .. rem-1.
  // After the reverse, source dot j sits at bit j from the bottom; shifting
  // by 64 - rem brings dot rem-1 to the top and drops every bit beyond rem-1.
  const size_t rem = w - 64 * nWords;
  if (rem == 0) return;
  const size_t nBytes = (rem + 7) / 8;
  Word v = 0;
  for (size_t i = 0; i < nBytes; ++i) v |= Word{src[i]} << (56 - 8 * i);
  const unsigned shift = static_cast<unsigned>(64 - rem);
  v = (Reverse64(v) << shift) | ((Word{1} << shift) - 1);
  unsigned char* out = dst + 8 * nWords;
  for (size_t i = 0; i < nBytes; ++i) out[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
}

}  // namespace

// Rows are taken from the bottom up; each is reversed into its destination
// row.  The bytes of a row beyond (biWidth + 7) / 8 keep the fill 0xFF.
//   Note: the buffer is exactly nImageWidth x nImageHeight bytes; nothing is
//   written beyond the picture, so no slack is needed.
std::vector<unsigned char> Rotate180(const unsigned char* pImage, int biWidth, int nImageWidth,
                                     int nImageHeight) {
  const size_t width = static_cast<size_t>(biWidth);
  const size_t stride = static_cast<size_t>(nImageWidth);
  const size_t rows = static_cast<size_t>(nImageHeight);
  std::vector<unsigned char> out(stride * rows, 0xFF);
  for (size_t r = 0; r < rows; ++r) {
    ReverseRow(pImage + (rows - 1 - r) * stride, out.data() + r * stride, width);
  }
  return out;
}

// Works on blocks of 8 source rows by 8 source columns (one source byte per
// row).  Destination byte g of rows 8bx .. 8bx+7 takes the source byte bx of
// rows nBitmapCY-1-8g down to nBitmapCY-8-8g: reading those rows bottom first
// makes the block's transpose exactly the 90-degree clockwise turn.
//   Notes:
//     1. The last block row may have fewer than 8 source rows; the missing
//        ones read as 0xFF, which fills the destination bits beyond
//        nBitmapCY with 1.
//     2. The last block column may hold bits beyond nBitmapCX; they would
//        become destination rows beyond nBitmapCX and are not written.
//     3. The buffer is exactly stride x nBitmapCX bytes with the new stride.
std::vector<unsigned char> Rotate90Degrees(const unsigned char* pImage, int nBitmapCX,
                                           int nBitmapCY, int nStride) {
  const size_t cx = static_cast<size_t>(nBitmapCX);
  const size_t cy = static_cast<size_t>(nBitmapCY);
  const size_t srcStride = static_cast<size_t>(nStride);
  const size_t dstStride = (cy + 31) / 32 * 4;
  std::vector<unsigned char> out(dstStride * cx, 0xFF);

  const size_t nColBytes = (cx + 7) / 8;
  const size_t nRowGroups = (cy + 7) / 8;
  // Stands in for the rows above the top of the picture in the last group.
  const std::vector<unsigned char> blank(cy % 8 != 0 ? nColBytes : 0, 0xFF);

  for (size_t g = 0; g < nRowGroups; ++g) {
    const unsigned char* rows[8];
    for (size_t k = 0; k < 8; ++k) {
      const size_t fromBottom = 8 * g + k;
      rows[k] = fromBottom < cy ? pImage + (cy - 1 - fromBottom) * srcStride : blank.data();
    }
    for (size_t bx = 0; bx < nColBytes; ++bx) {
      Word block = 0;
      for (size_t k = 0; k < 8; ++k) block = (block << 8) | rows[k][bx];
      block = Transpose8x8(block);
      const size_t nDstRows = std::min<size_t>(8, cx - 8 * bx);
      unsigned char* dst = out.data() + 8 * bx * dstStride + g;
      for (size_t j = 0; j < nDstRows; ++j) {
        dst[j * dstStride] = static_cast<unsigned char>(block >> (56 - 8 * j));
      }
    }
  }
  return out;
}

// Each row is reversed into the same row of the result.
//   Note: the buffer is exactly nBytePerRow x nPictureH bytes, which holds
//   every picture; a size taken from the dot count alone would be too small
//   for narrow pictures whose stride exceeds their width in dots.
std::vector<unsigned char> MirrorPicture(int nPictureW, int nPictureH, int nBytePerRow,
                                         const unsigned char* pImage) {
  const size_t width = static_cast<size_t>(nPictureW);
  const size_t stride = static_cast<size_t>(nBytePerRow);
  const size_t rows = static_cast<size_t>(nPictureH);
  std::vector<unsigned char> out(stride * rows, 0xFF);
  for (size_t r = 0; r < rows; ++r) {
    ReverseRow(pImage + r * stride, out.data() + r * stride, width);
  }
  return out;
}

void NegatePicture(unsigned char* pBuf, size_t nBytes) {
  for (size_t i = 0; i < nBytes; ++i) pBuf[i] = static_cast<unsigned char>(~pBuf[i]);
}
