#pragma once

// Writes a 24-bit top-down BMP of biWidth x biHeight pixels whose rows (in BMP
// order and padding) are the nDataSize bytes at pBmpData.
void SaveImage(const unsigned char* pBmpData, int nDataSize, int biWidth, int biHeight,
               const char* szFileName);
