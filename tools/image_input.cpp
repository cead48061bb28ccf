// Reading PBM/PGM/PPM and PNG pictures for makeraster (see image_input.h).
#include "image_input.h"

#include <png.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kMaxSide = 65535;

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rb"));
  if (!file) throw ImageError(path + ": " + strerror(errno));
  std::vector<uint8_t> data;
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file.get())) > 0)
    data.insert(data.end(), chunk, chunk + n);
  if (ferror(file.get())) throw ImageError(path + ": read error");
  return data;
}

void CheckSize(const std::string& path, size_t width, size_t height) {
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
    throw ImageError(path + ": unsupported picture size " + std::to_string(width) + "x" +
                     std::to_string(height));
}

// --- PBM/PGM/PPM --------------------------------------------------------

// Walks the bytes of a PNM file: header numbers with their comments, ASCII
// samples, and the binary raster after the header.
class PnmCursor {
 public:
  PnmCursor(const std::string& path, const std::vector<uint8_t>& data)
      : path_(path), data_(data), pos_(2) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw ImageError(path_ + ": " + what + " at byte " + std::to_string(pos_));
  }

  // An unsigned decimal after whitespace and '#' comments.
  unsigned Number(const char* what) {
    SkipSpace();
    if (pos_ >= data_.size() || !isdigit(data_[pos_])) Fail(std::string("expected ") + what);
    unsigned long value = 0;
    while (pos_ < data_.size() && isdigit(data_[pos_])) {
      value = value * 10 + (data_[pos_++] - '0');
      if (value > 1000000) Fail(std::string(what) + " too large");
    }
    return static_cast<unsigned>(value);
  }

  // A P1 sample: one '0' or '1', with or without whitespace around it.
  bool Bit() {
    SkipSpace();
    if (pos_ >= data_.size() || (data_[pos_] != '0' && data_[pos_] != '1')) Fail("expected 0 or 1");
    return data_[pos_++] == '1';
  }

  // The binary raster: exactly one whitespace byte ends the header.
  const uint8_t* Raster(size_t size) {
    if (pos_ >= data_.size() || !isspace(data_[pos_])) Fail("expected whitespace after header");
    ++pos_;
    if (data_.size() - pos_ < size)
      Fail("file ends early: " + std::to_string(size) + " raster bytes needed, " +
           std::to_string(data_.size() - pos_) + " left");
    return data_.data() + pos_;
  }

 private:
  void SkipSpace() {
    while (pos_ < data_.size()) {
      if (data_[pos_] == '#') {
        while (pos_ < data_.size() && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
      } else if (isspace(data_[pos_])) {
        ++pos_;
      } else {
        break;
      }
    }
  }

  const std::string& path_;
  const std::vector<uint8_t>& data_;
  size_t pos_;
};

Image ReadPnm(const std::string& path, const std::vector<uint8_t>& data) {
  const char kind = static_cast<char>(data[1]);
  PnmCursor in(path, data);
  Image image;
  image.width = in.Number("width");
  image.height = in.Number("height");
  CheckSize(path, image.width, image.height);
  const bool bitmap = kind == '1' || kind == '4';
  unsigned maxval = 1;
  if (!bitmap) {
    maxval = in.Number("maxval");
    if (maxval == 0 || maxval > 255)
      in.Fail("maxval " + std::to_string(maxval) + " not supported (1 to 255)");
  }
  image.channels = (kind == '3' || kind == '6') ? 3 : 1;
  const size_t samples = image.width * image.height * image.channels;
  image.pixels.resize(samples);

  auto scale = [&](unsigned v) {
    if (v > maxval) in.Fail("sample " + std::to_string(v) + " above maxval");
    return static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
  };
  switch (kind) {
    case '1':  // 1 is black
      for (auto& p : image.pixels) p = in.Bit() ? 0 : 255;
      break;
    case '2':
    case '3':
      for (auto& p : image.pixels) p = scale(in.Number("sample"));
      break;
    case '4': {
      const size_t stride = (image.width + 7) / 8;
      const uint8_t* raster = in.Raster(stride * image.height);
      for (size_t y = 0; y < image.height; ++y)
        for (size_t x = 0; x < image.width; ++x) {
          const bool black = (raster[y * stride + x / 8] >> (7 - x % 8)) & 1;
          image.pixels[y * image.width + x] = black ? 0 : 255;
        }
      break;
    }
    default: {  // '5', '6'
      const uint8_t* raster = in.Raster(samples);
      for (size_t i = 0; i < samples; ++i) image.pixels[i] = scale(raster[i]);
    }
  }
  return image;
}

// --- PNG ----------------------------------------------------------------

struct PngSource {
  const std::vector<uint8_t>& data;
  size_t pos = 0;
  char error[256] = "";
};

void PngError(png_structp png, png_const_charp message) {
  auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
  snprintf(source->error, sizeof source->error, "%s", message);
  png_longjmp(png, 1);
}

// Warnings (an odd colour profile, say) do not stop a read.
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, size_t length) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (source->data.size() - source->pos < length) png_error(png, "file ends early");
  memcpy(out, source->data.data() + source->pos, length);
  source->pos += length;
}

struct PngReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Each setjmp sits in a function of its own that holds only plain locals,
// so that libpng's longjmp on an error skips no destructor.
bool ReadPngHeader(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  png_set_expand(png);  // palette to RGB, grey to 8 bits, tRNS to alpha
  png_set_strip_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool ReadPngRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  (void)info;
  return true;
}

Image ReadPng(const std::string& path, const std::vector<uint8_t>& data) {
  PngSource source{data};
  PngReadStructs s;
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PngError, PngWarning);
  if (!s.png || !(s.info = png_create_info_struct(s.png)))
    throw ImageError(path + ": out of memory");
  png_set_read_fn(s.png, &source, PngRead);
  if (!ReadPngHeader(s.png, s.info)) throw ImageError(path + ": " + source.error);

  const size_t width = png_get_image_width(s.png, s.info);
  const size_t height = png_get_image_height(s.png, s.info);
  CheckSize(path, width, height);
  const int in_channels = png_get_channels(s.png, s.info);  // G, GA, RGB or RGBA
  const size_t row_bytes = png_get_rowbytes(s.png, s.info);
  std::vector<uint8_t> decoded(row_bytes * height);
  std::vector<png_bytep> rows(height);
  for (size_t y = 0; y < height; ++y) rows[y] = decoded.data() + y * row_bytes;
  if (!ReadPngRows(s.png, s.info, rows.data())) throw ImageError(path + ": " + source.error);

  Image image;
  image.width = width;
  image.height = height;
  image.channels = in_channels >= 3 ? 3 : 1;
  image.pixels.resize(width * height * image.channels);
  const bool alpha = in_channels == 2 || in_channels == 4;
  auto on_white = [](unsigned v, unsigned a) {
    return static_cast<uint8_t>((v * a + 255 * (255 - a) + 127) / 255);
  };
  uint8_t* out = image.pixels.data();
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = rows[y];
    for (size_t x = 0; x < width; ++x, in += in_channels)
      for (int c = 0; c < image.channels; ++c)
        *out++ = alpha ? on_white(in[c], in[in_channels - 1]) : in[c];
  }
  return image;
}

}  // namespace

Image ReadImage(const std::string& path) {
  const std::vector<uint8_t> data = ReadAll(path);
  if (data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0) return ReadPng(path, data);
  if (data.size() >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6')
    return ReadPnm(path, data);
  throw ImageError(path + ": neither a PNG nor a PBM/PGM/PPM file");
}

Image BlankImage(size_t width, size_t height) {
  Image image;
  image.width = width;
  image.height = height;
  image.pixels.assign(width * height, 255);
  return image;
}
