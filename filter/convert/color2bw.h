#pragma once

// Converts a 24-bit image (cx x cy pixels, stride nBytePerRow) in place to
// black and white by mode dwDithering (0 adaptive, 1 Otsu threshold + nLight,
// 2 ordered dithering, 3 error diffusion, other: none) and clears the bit of
// every black pixel in pDataBuf, a 1-bit bitmap at a 32-dot stride that the
// caller filled with 0xFF.  Throws std::bad_alloc when its working copy
// cannot be had.
void Color2BW(unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy, int nBytePerRow,
              int nLight, int dwDithering);
