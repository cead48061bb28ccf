#pragma once

#include <cstdint>

// Gated Floyd-Steinberg error diffusion of the 24-bit working image, in place.
// Always returns 0.
int ErrorDiffusion(unsigned char* pBits, int cx, int cy, int nByteWidth, int nLight);

// The palette entry nearest to a packed colour (ties to the lower index).
uint32_t FindNearestColor(uint32_t color, const uint32_t* palette, int nLength);

// a + b clamped to 0..255.
unsigned char PlusTruncate(unsigned char a, int b);
