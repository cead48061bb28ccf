// Automatic threshold of a page, and the greying it does on the way.
//
//   otsu       greys the working image in place and returns Otsu's threshold
//   GreyLevels the grey of a pixel by the sum of its bytes, for a light level
//   GreyRow    greys the whole 3-byte groups of one row in place
#pragma once

#include <cstddef>
#include <cstdint>

struct GreyLevels {
  explicit GreyLevels(int nLight);
  unsigned char level[766];  // by b0 + b1 + b2: their mean plus the light's offset, clamped
};

// Each whole 3-byte group of a row of `groups` groups becomes its grey in all three bytes (a
// remainder of one or two bytes is neither read nor written); pixelCount, when given, counts
// the greys.
void GreyRow(unsigned char* row, std::size_t groups, const GreyLevels& levels, int64_t* pixelCount);

// Greys the 24-bit working image in place (each whole 3-byte group of a row
// becomes its mean plus the brightness offset of nLight) and returns Otsu's
// threshold of the page: levels 0..t form the dark class.
int otsu(unsigned char* image, int nImageWidth, int nImageHeight, int nPixelNum, int nLight);
