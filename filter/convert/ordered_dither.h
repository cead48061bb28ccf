#pragma once

// 3 x 3 ordered dithering of the 24-bit working image, in place.
void OrderedDither(unsigned char* pixels, int width, int height, int nByteWidth, int nLight);
