// The page dump: SaveImage writes a 24-bit top-down BMP.
//
// The dump holds what was on the label (names, addresses), and its folder may
// be shared, so it is only ever written into a regular file of the filter's
// own user, never through a symbolic link, and readable by that user alone.
#include "driver/page_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "log.h"

namespace {

void Put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool WriteAll(int fd, const unsigned char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Opens szFileName for rewriting, or returns -1 with why in reason.
int OpenDumpFile(const char* szFileName, const char*& reason) {
  int fd = open(szFileName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    reason = errno == ELOOP ? "it is a symbolic link" : strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    reason = "it is not a regular file";
  } else if (st.st_uid != geteuid()) {
    reason = "it belongs to another user";
  } else if (fchmod(fd, 0600) != 0 || ftruncate(fd, 0) != 0) {
    reason = strerror(errno);
  } else {
    return fd;
  }
  close(fd);
  return -1;
}

}  // namespace

void SaveImage(const unsigned char* pBmpData, int nDataSize, int biWidth, int biHeight,
               const char* szFileName) {
  const char* reason = nullptr;
  int fd = OpenDumpFile(szFileName, reason);
  if (fd < 0) {
    Error("Page dump %s not written: %s", szFileName, reason);
    return;
  }
  unsigned char head[54] = {};
  head[0] = 'B';
  head[1] = 'M';
  Put32(head + 2, static_cast<uint32_t>(nDataSize) + 54);  // bfSize
  Put32(head + 10, 54);                                    // bfOffBits
  Put32(head + 14, 40);                                    // biSize
  Put32(head + 18, static_cast<uint32_t>(biWidth));
  Put32(head + 22, static_cast<uint32_t>(-biHeight));  // negative: top row first
  Put16(head + 26, 1);                                 // biPlanes
  Put16(head + 28, 24);                                // biBitCount
  // Compression, image size, resolution and palette counts stay 0.
  if (!WriteAll(fd, head, 14) || !WriteAll(fd, head + 14, 40) ||
      !WriteAll(fd, pBmpData, nDataSize > 0 ? static_cast<size_t>(nDataSize) : 0)) {
    Error("Page dump %s incomplete: %s", szFileName, strerror(errno));
  }
  close(fd);
}
