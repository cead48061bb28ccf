#pragma once

// Decides grey pixel (x, y) of the image being converted (and possibly the run
// to its right, and inside a code, white marks below it).  Reads the grey
// snapshot pOrgPixel, which must carry a white margin of the image's size.
// Always returns 1.
int ProcessLine(unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
                int nHeight);
