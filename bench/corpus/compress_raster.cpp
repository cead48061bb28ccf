// bench_compress_raster: rewrites a CUPS raster stream (standard input) as the compressed
// version 2 stream ("RaS2") that Ghostscript's and Poppler's raster filters hand a printer
// driver, page by page and row by row (standard output).  bench/corpus/make-corpus.sh uses it
// for the corpus pages that arrive compressed.
#include <cups/raster.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct RasterCloser {
  void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

}  // namespace

int main() {
  std::unique_ptr<cups_raster_t, RasterCloser> in(cupsRasterOpen(0, CUPS_RASTER_READ));
  std::unique_ptr<cups_raster_t, RasterCloser> out(cupsRasterOpen(1, CUPS_RASTER_WRITE_COMPRESSED));
  if (!in || !out) return 1;
  cups_page_header2_t h;
  int pages = 0;
  while (cupsRasterReadHeader2(in.get(), &h)) {
    std::vector<unsigned char> row(h.cupsBytesPerLine);
    if (!cupsRasterWriteHeader2(out.get(), &h)) return 1;
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      if (cupsRasterReadPixels(in.get(), row.data(), h.cupsBytesPerLine) == 0 ||
          cupsRasterWritePixels(out.get(), row.data(), h.cupsBytesPerLine) == 0) {
        fprintf(stderr, "bench_compress_raster: page %d row %u could not be copied\n", pages + 1,
                y);
        return 1;
      }
    }
    ++pages;
  }
  return pages > 0 ? 0 : 1;
}
