// Test pages for the monochrome conversion.
//
// Contents
//   GreyPage        a working image (3 bytes per pixel) with its grey snapshot
//   DrawFinder      the ideal 7 x 7 module finder pattern on a 0/255 grid
//   Smooth2x2       the 2 x 2 mean that smoothed scans give module edges
//   BitIsInk        reads one dot of a page bitmap
#pragma once

#include <cstddef>
#include <vector>

// An image of width x height pixels at a stride of 3 * width + padding bytes,
// and the snapshot the line rules read: the same grey values followed by a
// white margin as large as the image.  Both start white.
struct GreyPage {
  int width;
  int height;
  int stride;
  std::vector<unsigned char> image;
  std::vector<unsigned char> snapshot;

  GreyPage(int w, int h, int padding = 0)
      : width(w),
        height(h),
        stride(3 * w + padding),
        image(static_cast<std::size_t>(stride) * h, 255),
        snapshot(2 * image.size(), 255) {}

  std::size_t At(int x, int y) const { return static_cast<std::size_t>(y) * stride + 3 * x; }

  // A pixel not yet decided: its grey value in both buffers.
  void Grey(int x, int y, int v) { Decided(x, y, v, v); }
  // A pixel already decided: grey value in the snapshot, decision in the image.
  void Decided(int x, int y, int grey, int decision) {
    for (int k = 0; k < 3; ++k) {
      snapshot[At(x, y) + k] = static_cast<unsigned char>(grey);
      image[At(x, y) + k] = static_cast<unsigned char>(decision);
    }
  }
  int Decision(int x, int y) const { return image[At(x, y)]; }
};

// Ideal finder pattern at 0/255, `module` pixels per module, top-left corner
// at (left, top) of a grid of width columns.
inline void DrawFinder(std::vector<int>& ideal, int width, int left, int top, int module) {
  for (int my = 0; my < 7; ++my) {
    for (int mx = 0; mx < 7; ++mx) {
      const bool ring = mx == 0 || mx == 6 || my == 0 || my == 6;
      const bool centre = mx >= 2 && mx <= 4 && my >= 2 && my <= 4;
      if (!ring && !centre) continue;
      for (int dy = 0; dy < module; ++dy) {
        for (int dx = 0; dx < module; ++dx) {
          ideal[(top + my * module + dy) * width + left + mx * module + dx] = 0;
        }
      }
    }
  }
}

// Pixel (x, y) becomes the truncated mean of the ideal values at (x, y),
// (x+1, y), (x, y+1) and (x+1, y+1); outside the grid counts as white.
inline std::vector<int> Smooth2x2(const std::vector<int>& ideal, int width, int height) {
  auto at = [&](int x, int y) { return x < width && y < height ? ideal[y * width + x] : 255; };
  std::vector<int> out(ideal.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      out[y * width + x] = (at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4;
    }
  }
  return out;
}

inline bool BitIsInk(const std::vector<unsigned char>& bitmap, int stride, int x, int y) {
  return (bitmap[static_cast<std::size_t>(y) * stride + x / 8] & (0x80 >> (x % 8))) == 0;
}
