// The raster stream as the page loop reads it.
//
//   RasterInput    the read callback's state: a buffer of our own
//   ReadRaster     the read callback for cupsRasterOpenIO
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

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
};

// Like a read(2) of the input's descriptor that retries when interrupted.  Requests of at least
// the buffer's size bypass the buffer.  The log is flushed before a read, which may wait for
// the sender.
ssize_t ReadRaster(void* ctx, unsigned char* out, std::size_t length);
