// The raster stream as the page loop reads it: ReadRaster.
#include "driver/raster_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log.h"

ssize_t ReadRaster(void* ctx, unsigned char* out, std::size_t length) {
  auto* in = static_cast<RasterInput*>(ctx);
  auto readFd = [in](unsigned char* to, std::size_t n) {
    FlushLog();
    ssize_t got;
    while ((got = read(in->fd, to, n)) < 0 && (errno == EINTR || errno == EAGAIN)) {
    }
    if (got <= 0) in->atEnd = true;
    return got;
  };
  if (in->begin == in->end) {
    if (length >= RasterInput::kSize) {
      const ssize_t got = readFd(out, length);
      if (got > 0) in->delivered += static_cast<uint64_t>(got);
      return got;
    }
    const ssize_t got = readFd(in->buffer.get(), RasterInput::kSize);
    if (got <= 0) return got;
    in->begin = 0;
    in->end = static_cast<std::size_t>(got);
  }
  const std::size_t n = std::min(length, in->end - in->begin);
  std::memcpy(out, in->buffer.get() + in->begin, n);
  in->begin += n;
  in->delivered += n;
  return static_cast<ssize_t>(n);
}
