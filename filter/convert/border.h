// Preparation passes shared by the two dithering methods.
#pragma once

// Classifies pixel (x, y) of a 24-bit image nWidth x nHeight pixels (stride
// derived from nWidth): -1 no boundary, 0..6 the kind of boundary.
int IsBorder(const unsigned char* pColorBuf, int x, int y, int nWidth, int nHeight);

// Snaps mid-grey boundary pixels to black or white from their neighbour along
// the boundary; decisions read the image as it was before the pass.
void SnapBorderPixels(unsigned char* pixels, int width, int height, int nByteWidth,
                      int nBrightness);

// How ConvertToGray finishes a colour pixel's luma.
enum class GrayFinish {
  kClamp,  // ordered dithering: limit to 0..255
  kSnap,   // error diffusion: <= 99 black, > 225 white
};

// Turns coloured pixels into grey by luma weights; grey pixels stay as they are.
void ConvertToGray(unsigned char* pixels, int width, int height, int nByteWidth, int nBrightness,
                   GrayFinish finish);
