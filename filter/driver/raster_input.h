// The raster stream as the page loop reads it.
//
//   RasterInput    the read callback's state: a buffer of our own, and the progress lines held
//                  back until the next read
//   ReadRaster     the read callback for cupsRasterOpenIO
//   FlushProgress  writes the progress lines held back
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// libcups asks for exactly the bytes it needs, so the rows and headers it returns, and where a
// short stream ends, are the same as with unbuffered reads; a page read row by row costs one
// system call per buffer filled instead of one or two per row.
struct RasterInput {
  static constexpr std::size_t kSize = 256 * 1024;
  int fd = 0;
  std::unique_ptr<unsigned char[]> buffer{new unsigned char[kSize]};
  std::size_t begin = 0, end = 0;  // the bytes read ahead and not yet handed out
  uint64_t delivered = 0;          // bytes handed to libcups so far
  bool atEnd = false;              // a read found the end of the stream (or failed)
  // Progress lines of rows taken from bytes already read: written in one piece before the
  // stream is read again (a read may wait for the sender) and when the page's rows are done.
  std::string progress;
};

// Like a read(2) of the input's descriptor that retries when interrupted.  Requests of at least
// the buffer's size bypass the buffer.
ssize_t ReadRaster(void* ctx, unsigned char* out, std::size_t length);

void FlushProgress(RasterInput& in);
