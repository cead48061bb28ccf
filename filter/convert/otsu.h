#pragma once

// Greys the 24-bit working image in place (each whole 3-byte group of a row
// becomes its mean plus the brightness offset of nLight) and returns Otsu's
// threshold of the page: levels 0..t form the dark class.
int otsu(unsigned char* image, int nImageWidth, int nImageHeight, int nPixelNum, int nLight);
