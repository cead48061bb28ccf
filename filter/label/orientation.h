// Orientation of the page bitmap before it is sent to the printer.
//
// Contents
//   Rotate180        turns a picture by 180 degrees into a new buffer
//   Rotate90Degrees  turns a picture by 90 degrees clockwise into a new buffer
//   MirrorPicture    mirrors a picture left to right into a new buffer
//   NegatePicture    complements a buffer in place (negative print)
//
// Pictures are page bitmaps: one bit per dot, the most significant bit of a
// byte is the leftmost dot, 0 = ink, 1 = no ink, rows from top to bottom at a
// fixed stride of at least (width + 7) / 8 bytes.
//
// Common to the three geometric steps:
//   1. The result is a new buffer of exactly stride x rows bytes (the sizes
//      multiplied in size_t), owned by the caller.  Every bit of it that is not
//      a picture dot (the bits beyond the width in a row's last used byte and
//      the bytes beyond them up to the stride) is 1.
//   2. Bits of the source beyond its width are never read into the result, so
//      a source whose padding is not 1 (a complemented raster, a stride wider
//      than the width needs) gives the same result as a clean one.  No byte
//      outside stride x rows of the source is read.
//   3. Widths are at least 1 dot and strides at least (width + 7) / 8 bytes;
//      callers guarantee this and it is not checked.  A picture of 0 rows
//      gives an empty buffer.
//   4. A failed allocation throws std::bad_alloc; the caller decides whether
//      the page goes on with the picture it has.
#pragma once

#include <cstddef>
#include <vector>

// Turns a picture by 180 degrees.
//   Input:  pImage, biWidth dots wide, nImageHeight rows at nImageWidth bytes
//           per row.
//   Output: a picture of the same size and stride in which dot (r, p) is the
//           source dot (nImageHeight - 1 - r, biWidth - 1 - p).
std::vector<unsigned char> Rotate180(const unsigned char* pImage, int biWidth, int nImageWidth,
                                     int nImageHeight);

// Turns a picture by 90 degrees clockwise: the top edge becomes the right edge.
//   Input:  pImage, nBitmapCX dots wide, nBitmapCY rows at nStride bytes per row.
//   Output: a picture nBitmapCY dots wide and nBitmapCX rows high at stride
//           ((nBitmapCY + 31) >> 5) * 4, in which dot (x, i) is the source
//           dot (nBitmapCY - 1 - i, x).
//   Notes:
//     1. Only the nBitmapCX columns of the source are turned; bits beyond the
//        width would become rows that do not exist.
//     2. 270 degrees clockwise is Rotate180 followed by this turn.
std::vector<unsigned char> Rotate90Degrees(const unsigned char* pImage, int nBitmapCX,
                                           int nBitmapCY, int nStride);

// Mirrors a picture left to right.
//   Input:  pImage, nPictureW dots wide, nPictureH rows at nBytePerRow bytes
//           per row.
//   Output: a picture of the same size and stride in which dot (r, p) is the
//           source dot (r, nPictureW - 1 - p).
std::vector<unsigned char> MirrorPicture(int nPictureW, int nPictureH, int nBytePerRow,
                                         const unsigned char* pImage);

// Complements each of the nBytes bytes of pBuf in place, for a negative print.
//   Note: the bits beyond the picture width are complemented too and become
//   ink; the printer receives every row at its full stride.
void NegatePicture(unsigned char* pBuf, size_t nBytes);
