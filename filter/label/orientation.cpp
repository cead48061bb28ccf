// Orientation of the page bitmap: 180-degree and 90-degree turns, mirror and
// negative.
//
// Contents
//   Rotate180        rows taken bottom to top, each reversed by ReverseRow
//   Rotate90Degrees  64 x 64 dot tiles, each transposed in 64 words
//   MirrorPicture    each row reversed by ReverseRow into the same row
//   NegatePicture    byte complement
//
// Internal kernels
//   LoadBE64 / StoreBE64  eight bytes as a word whose top bit is the first dot
//   LoadPartialBE64 /     the same for fewer than eight bytes
//     StorePartialBE64
//   Reverse64             reverses the order of the 64 bits of a word
//   Transpose64x64        transposes a 64 x 64 bit block held in 64 words
//   ReverseRow            writes the first w dots of a row in reverse order
//
// All kernels move whole bytes or words; the results are the same, bit for
// bit, as moving one dot at a time.
#include "label/orientation.h"

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

// Reverses the order of the 64 bits of v: bits are swapped in pairs, pairs in
// nibbles, nibbles in bytes, and then the bytes are reversed.
Word Reverse64(Word v) {
  v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
  v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
  v = ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
  return __builtin_bswap64(v);
}

// The first n <= 8 bytes at p as the top bytes of a word; the bytes not read
// are 0xFF.
Word LoadPartialBE64(const unsigned char* p, size_t n) {
  Word v = 0;
  for (size_t i = 0; i < 8; ++i) v = (v << 8) | (i < n ? p[i] : 0xFF);
  return v;
}

// Stores the top n <= 8 bytes of v at p.
void StorePartialBE64(unsigned char* p, Word v, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
}

// One round of Transpose64x64: within every 2J x 2J sub-block, swaps the
// J x J block right of the diagonal (low J bits of rows k) with the one below
// it (high J bits of rows k + J).
template <unsigned J, Word kRightHalves>
void SwapAcrossDiagonal(Word* a) {
  for (unsigned k0 = 0; k0 < 64; k0 += 2 * J) {
    for (unsigned k = k0; k < k0 + J; ++k) {
      const Word t = (a[k] ^ (a[k + J] >> J)) & kRightHalves;
      a[k] ^= t;
      a[k + J] ^= t << J;
    }
  }
}

// Transposes a 64 x 64 block of bits: a[k] is block row k, its most
// significant bit is column 0.  Dot (k, j) moves to (j, k).
void Transpose64x64(Word* a) {
  SwapAcrossDiagonal<32, 0x00000000FFFFFFFFull>(a);
  SwapAcrossDiagonal<16, 0x0000FFFF0000FFFFull>(a);
  SwapAcrossDiagonal<8, 0x00FF00FF00FF00FFull>(a);
  SwapAcrossDiagonal<4, 0x0F0F0F0F0F0F0F0Full>(a);
  SwapAcrossDiagonal<2, 0x3333333333333333ull>(a);
  SwapAcrossDiagonal<1, 0x5555555555555555ull>(a);
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
  const unsigned shift = static_cast<unsigned>(64 - rem);
  const Word v = Reverse64(LoadPartialBE64(src, nBytes)) << shift | ((Word{1} << shift) - 1);
  StorePartialBE64(dst + 8 * nWords, v, nBytes);
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

// Works on tiles of 64 source rows by 64 source columns (8 bytes of each
// row).  Tile (g, t) holds the source rows nBitmapCY-1-64g down to
// nBitmapCY-64-64g, bottom first, and the columns 64t .. 64t+63; its
// transpose is bytes 8g .. 8g+7 of the destination rows 64t .. 64t+63, which
// is the 90-degree clockwise turn.
//   Notes:
//     1. In the last row of tiles the rows above the top of the picture read as
//        all 1; they become the destination bits beyond nBitmapCY.
//     2. Source columns beyond nBitmapCX, padding included, become destination
//        rows beyond nBitmapCX, which are not written.  Source bytes beyond
//        the stride are not read, destination bytes beyond it not written.
//     3. The buffer is exactly the new stride x nBitmapCX bytes.
std::vector<unsigned char> Rotate90Degrees(const unsigned char* pImage, int nBitmapCX,
                                           int nBitmapCY, int nStride) {
  const size_t cx = static_cast<size_t>(nBitmapCX);
  const size_t cy = static_cast<size_t>(nBitmapCY);
  const size_t srcStride = static_cast<size_t>(nStride);
  const size_t dstStride = (cy + 31) / 32 * 4;
  std::vector<unsigned char> out(dstStride * cx, 0xFF);

  Word tile[64];
  for (size_t g = 0; 64 * g < cy; ++g) {
    const size_t dstByte = 8 * g;
    const size_t nStore = std::min<size_t>(8, dstStride - dstByte);
    for (size_t t = 0; 64 * t < cx; ++t) {
      const size_t srcByte = 8 * t;
      const size_t nLoad = std::min<size_t>(8, srcStride - srcByte);
      for (size_t k = 0; k < 64; ++k) {
        const size_t fromBottom = 64 * g + k;
        if (fromBottom >= cy) {
          tile[k] = ~Word{0};
          continue;
        }
        const unsigned char* src = pImage + (cy - 1 - fromBottom) * srcStride + srcByte;
        tile[k] = nLoad == 8 ? LoadBE64(src) : LoadPartialBE64(src, nLoad);
      }
      Transpose64x64(tile);
      const size_t nRows = std::min<size_t>(64, cx - 64 * t);
      for (size_t j = 0; j < nRows; ++j) {
        unsigned char* dst = out.data() + (64 * t + j) * dstStride + dstByte;
        if (nStore == 8) {
          StoreBE64(dst, tile[j]);
        } else {
          StorePartialBE64(dst, tile[j], nStore);
        }
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
