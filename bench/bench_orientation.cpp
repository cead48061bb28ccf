// Speed of the bitmap orientation steps on label-sized page bitmaps.
//
//   Median     median wall time of repeated runs of one step
//   BenchPage  times every step on one page size and prints ms per page and MB/s, next to a
//              plain copy of the same page (the floor)
//   main       a 1200-dot x 1218-row page (4 x 6 inch at 300 dpi, turned) and an 1800 x 1218 one
//
// Usage: bench_orientation [runs]   (default 201; the median of the runs is reported)
// MB/s counts the bytes of the source picture.  The turns and the mirror include the
// allocation of their result, as the filter pays it.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "label/orientation.h"

namespace {

// Median wall time in milliseconds of nRuns runs of step.
template <typename Step>
double Median(int nRuns, Step step) {
  std::vector<double> ms;
  for (int i = 0; i < nRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    step();
    const auto stop = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  std::nth_element(ms.begin(), ms.begin() + nRuns / 2, ms.end());
  return ms[nRuns / 2];
}

// Keeps the optimiser from dropping a result.
volatile unsigned char gSink;

void Report(const char* name, double ms, size_t nBytes) {
  std::printf("  %-16s %8.3f ms %8.0f MB/s\n", name, ms, nBytes / 1e6 / (ms / 1e3));
}

void BenchPage(int width, int rows, int nRuns) {
  const int stride = ((width + 31) >> 5) * 4;
  const size_t nBytes = static_cast<size_t>(stride) * rows;
  std::vector<unsigned char> page(nBytes);
  std::mt19937 rng(1);
  for (auto& b : page) b = static_cast<unsigned char>(rng());
  std::vector<unsigned char> copy(nBytes);

  std::printf("%d dots x %d rows, stride %d (%zu bytes), median of %d runs\n", width, rows, stride,
              nBytes, nRuns);
  Report("memcpy (floor)",
         Median(nRuns,
                [&] {
                  std::memcpy(copy.data(), page.data(), nBytes);
                  gSink = copy[nBytes / 2];
                }),
         nBytes);
  Report("Rotate180",
         Median(nRuns, [&] { gSink = Rotate180(page.data(), width, stride, rows)[0]; }), nBytes);
  Report("Rotate90Degrees",
         Median(nRuns, [&] { gSink = Rotate90Degrees(page.data(), width, rows, stride)[0]; }),
         nBytes);
  Report("MirrorPicture",
         Median(nRuns, [&] { gSink = MirrorPicture(width, rows, stride, page.data())[0]; }),
         nBytes);
  Report("NegatePicture",
         Median(nRuns,
                [&] {
                  NegatePicture(copy.data(), nBytes);
                  gSink = copy[nBytes / 2];
                }),
         nBytes);
}

}  // namespace

int main(int argc, char** argv) {
  const int nRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 201;
  BenchPage(1200, 1218, nRuns);
  BenchPage(1800, 1218, nRuns);
  return 0;
}
