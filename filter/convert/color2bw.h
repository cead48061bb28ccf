// Monochrome conversion of a page's 24-bit working image into its page bitmap.
//
//   ConversionMode  the four ways, with the "Dithering" choice name of each
//   ModeOfChoice    the mode a "Dithering" choice names
//   Color2BW        converts in place by a mode and packs the black pixels as ink bits
#pragma once

enum class ConversionMode {
  kNone,            // "None": adaptive, per pixel, keeping two-dimensional codes clean
  kThreshold,       // "Threshold": Otsu's cut plus the "Threshold" offset
  kOrderDithering,  // "OrderDithering": 3 x 3 ordered dithering
  kErrorDiffusion,  // "ErrorDiffusion": gated error diffusion
};

struct ConversionModeName {
  ConversionMode mode;
  const char* choice;
};

// Every mode, in the order of their numbers at the Color2BW boundary.  A new mode is one more
// row here, a case in Color2BW, and a choice in the printer descriptions.
inline constexpr ConversionModeName kConversionModes[] = {
    {ConversionMode::kNone, "None"},
    {ConversionMode::kThreshold, "Threshold"},
    {ConversionMode::kOrderDithering, "OrderDithering"},
    {ConversionMode::kErrorDiffusion, "ErrorDiffusion"},
};

// The mode a "Dithering" choice names, compared without regard to case; None for any other
// name and for none.
ConversionMode ModeOfChoice(const char* choice);

// Converts a 24-bit image (cx x cy pixels, stride nBytePerRow) in place to black and white by
// mode dwDithering (the number of a ConversionMode; any other number converts nothing) and
// clears the bit of every black pixel in pDataBuf, a 1-bit bitmap at a 32-dot stride that the
// caller filled with 0xFF.  nLight is the threshold offset of mode Threshold.  Throws
// std::bad_alloc when its working copy cannot be had.
void Color2BW(unsigned char* pvBits, unsigned char* pDataBuf, int cx, int cy, int nBytePerRow,
              int nLight, int dwDithering);
