// Strict reading of a label job (see job_reader.h).
#include "job_reader.h"

#include <bit>
#include <cstdio>
#include <string_view>

namespace {

// The command lines a page may hold besides BITMAP. "%d" is a count as the
// filter prints it; "%n" a number copied from the PPD.
constexpr std::string_view kSize = "SIZE %d mm, %d mm";
constexpr std::string_view kClear = "CLS";
constexpr std::string_view kPrint = "PRINT 1,%d";
constexpr std::string_view kSetupForms[] = {
    "SET RIBBON OFF", "SET RIBBON ON", "GAP 0 mm, 0 mm", "GAP %n mm,0 mm", "BLINE %n mm,0 mm",
    "OFFSET %n mm",   "DIRECTION 0,0", "REFERENCE 0,0",  "SET CUTTER OFF", "SET CUTTER BATCH",
    "SET CUTTER %d",  "SET TEAR ON",   "SET TEAR OFF",   "SET PEEL ON",    "SET PEEL OFF",
    "SPEED %n",       "DENSITY %n",
};
constexpr unsigned kLargestCount = 1000000000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a count ("%d") at the start of text: digits, no sign, no leading zero.
std::optional<unsigned> TakeCount(std::string_view& text) {
  size_t n = 0;
  while (n < text.size() && IsDigit(text[n])) ++n;
  if (n == 0 || (n > 1 && text[0] == '0') || n > 10) return std::nullopt;
  unsigned long long value = 0;
  for (size_t i = 0; i < n; ++i) value = value * 10 + (text[i] - '0');
  if (value > kLargestCount) return std::nullopt;
  text.remove_prefix(n);
  return static_cast<unsigned>(value);
}

// Reads a PPD number ("%n"): an optional minus, digits, an optional fraction.
bool TakeDecimal(std::string_view& text) {
  size_t n = text.starts_with('-') ? 1 : 0;
  const size_t digits = n;
  while (n < text.size() && IsDigit(text[n])) ++n;
  if (n == digits) return false;
  if (n < text.size() && text[n] == '.') {
    const size_t fraction = ++n;
    while (n < text.size() && IsDigit(text[n])) ++n;
    if (n == fraction) return false;
  }
  text.remove_prefix(n);
  return true;
}

enum class Match { kNo, kYes, kBadNumber, kBadLayout };

// Matches a line against a form. A line that shares the form's text up to
// its first number but then goes wrong is that command, malformed.
Match MatchForm(std::string_view line, std::string_view form, std::vector<unsigned>* counts) {
  const size_t first = form.find('%');
  if (first == std::string_view::npos) return line == form ? Match::kYes : Match::kNo;
  if (!line.starts_with(form.substr(0, first))) return Match::kNo;
  // A number must end where the form's next text begins: "4x" is a bad number.
  auto number_ends = [&] {
    form.remove_prefix(2);
    return form.empty() ? line.empty() : line.starts_with(form[0]);
  };
  while (!form.empty()) {
    if (form.starts_with("%d")) {
      const auto count = TakeCount(line);
      if (!count || !number_ends()) return Match::kBadNumber;
      if (counts) counts->push_back(*count);
    } else if (form.starts_with("%n")) {
      if (!TakeDecimal(line) || !number_ends()) return Match::kBadNumber;
    } else {
      if (line.empty() || line[0] != form[0]) return Match::kBadLayout;
      line.remove_prefix(1);
      form.remove_prefix(1);
    }
  }
  return line.empty() ? Match::kYes : Match::kBadLayout;
}

// A form as messages show it: "SPEED <number>".
std::string Shown(std::string_view form) {
  std::string out = "\"";
  for (size_t i = 0; i < form.size(); ++i) {
    if (form[i] == '%') {
      out += form[++i] == 'd' ? "<count>" : "<number>";
    } else {
      out += form[i];
    }
  }
  return out + "\"";
}

// A piece of the stream fit for a message: quoted, control bytes escaped, cut.
std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < 60; ++i) {
    const unsigned char c = text[i];
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + (text.size() > 60 ? "...\"" : "\"");
}

class JobReader {
 public:
  explicit JobReader(std::span<const uint8_t> stream)
      : text_(reinterpret_cast<const char*>(stream.data()), stream.size()) {}

  LabelJob Read() {
    LabelJob job;
    try {
      if (text_.empty()) throw JobFault{0, "empty job: no page"};
      while (pos_ < text_.size()) job.pages.push_back(ReadPage(job.pages.size() + 1));
    } catch (JobFault& fault) {
      job.fault = std::move(fault);
    }
    return job;
  }

 private:
  [[noreturn]] void Fail(size_t offset, std::string message) const {
    throw JobFault{offset, std::move(message)};
  }

  // The next line without its "\r\n"; pos_ moves past it.
  std::string_view TakeLine(size_t page) {
    const size_t start = pos_;
    const size_t feed = text_.find('\n', start);
    if (feed == std::string_view::npos)
      Fail(start, "input ends inside page " + std::to_string(page) + " in the line " +
                      Quote(text_.substr(start)) + " (no \"\\r\\n\", no PRINT)");
    if (feed == start || text_[feed - 1] != '\r')
      Fail(feed,
           "line feed without carriage return after " + Quote(text_.substr(start, feed - start)));
    pos_ = feed + 1;
    return text_.substr(start, feed - 1 - start);
  }

  // Checks one line against its form; faults name the command.
  std::vector<unsigned> Expect(std::string_view line, size_t start, std::string_view form) {
    std::vector<unsigned> counts;
    switch (MatchForm(line, form, &counts)) {
      case Match::kYes:
        return counts;
      case Match::kBadNumber:
        Fail(start, "malformed number in " + Quote(line) + " (expected " + Shown(form) + ")");
      default:
        Fail(start, "malformed command " + Quote(line) + " (expected " + Shown(form) + ")");
    }
  }

  // Whether the line is one of the setup lines between SIZE and CLS. A line
  // that no form fits exactly but that starts like a form with a number
  // ("SPEED fast") is that command, malformed.
  bool IsSetupLine(std::string_view line, size_t start) {
    for (std::string_view form : kSetupForms)
      if (MatchForm(line, form, nullptr) == Match::kYes) return true;
    for (std::string_view form : kSetupForms)
      if (MatchForm(line, form, nullptr) != Match::kNo) Expect(line, start, form);
    return false;
  }

  LabelPage ReadPage(size_t number) {
    LabelPage page;
    const std::string where = "page " + std::to_string(number);

    size_t start = pos_;
    std::string_view line = TakeLine(number);
    if (!line.starts_with("SIZE "))
      Fail(start, where + " starts with " + Quote(line) + ", not with SIZE");
    const auto size = Expect(line, start, kSize);
    page.width_mm = size[0];
    page.height_mm = size[1];
    page.setup.emplace_back(line);

    // Setup lines up to CLS.
    for (;;) {
      if (pos_ == text_.size()) Fail(pos_, "input ends inside the setup of " + where);
      start = pos_;
      if (text_.substr(pos_).starts_with("BITMAP ")) Fail(start, "BITMAP before CLS in " + where);
      line = TakeLine(number);
      page.setup.emplace_back(line);
      if (line == kClear) break;
      if (line.starts_with("SIZE "))
        Fail(start, where + " has no CLS and no PRINT before the next SIZE");
      if (line.starts_with("PRINT ")) Fail(start, "PRINT before CLS in " + where);
      if (!IsSetupLine(line, start)) Fail(start, "unknown command " + Quote(line));
    }

    // Bitmaps up to PRINT.
    for (;;) {
      if (pos_ == text_.size()) Fail(pos_, "input ends inside " + where + ": no PRINT after CLS");
      start = pos_;
      if (text_.substr(pos_).starts_with("BITMAP ")) {
        page.bitmaps.push_back(ReadBitmap());
        continue;
      }
      line = TakeLine(number);
      if (line.starts_with("PRINT ")) {
        Expect(line, start, kPrint);
        page.print = line;
        return page;
      }
      if (line.starts_with("SIZE ")) Fail(start, where + " has no PRINT before the next SIZE");
      if (line == kClear || IsSetupLine(line, start))
        Fail(start, "setup command " + Quote(line) + " after CLS in " + where);
      Fail(start, "unknown command " + Quote(line));
    }
  }

  // "BITMAP x,y,w,h,1," and then exactly w * h data bytes and "\r\n".
  Bitmap ReadBitmap() {
    Bitmap bitmap;
    bitmap.offset = pos_;
    pos_ += 7;  // "BITMAP "
    unsigned* const fields[] = {&bitmap.x, &bitmap.y, &bitmap.width, &bitmap.height};
    const char* const names[] = {"x", "y", "width", "height", "mode"};
    unsigned mode = 0;
    for (int i = 0; i < 5; ++i) {
      std::string_view rest = text_.substr(pos_);
      const auto value = TakeCount(rest);
      if (!value || !rest.starts_with(','))
        Fail(pos_, std::string("malformed number for the BITMAP ") + names[i] + " at " +
                       Quote(text_.substr(pos_, 12)));
      (i < 4 ? *fields[i] : mode) = *value;
      pos_ = text_.size() - rest.size() + 1;
    }
    const std::string command = "BITMAP " + std::to_string(bitmap.x) + "," +
                                std::to_string(bitmap.y) + "," + std::to_string(bitmap.width) +
                                "," + std::to_string(bitmap.height) + "," + std::to_string(mode);
    if (mode != 1) Fail(bitmap.offset, command + ": mode must be 1");
    if (bitmap.x % 8 != 0) Fail(bitmap.offset, command + ": x is not a multiple of 8 dots");
    if (bitmap.width == 0 || bitmap.height == 0) Fail(bitmap.offset, command + ": no data");

    const size_t size = size_t{bitmap.width} * bitmap.height;
    const size_t left = text_.size() - pos_;
    if (size > left)
      Fail(pos_, command + ": data run past the end of the input (" + std::to_string(size) +
                     " bytes needed, " + std::to_string(left) + " left)");
    bitmap.data.assign(text_.begin() + pos_, text_.begin() + pos_ + size);
    pos_ += size;
    if (!text_.substr(pos_).starts_with("\r\n"))
      Fail(pos_, command + ": data not followed by \"\\r\\n\" (found " +
                     Quote(text_.substr(pos_, 8)) + ")");
    pos_ += 2;
    return bitmap;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

size_t Bitmap::InkDots() const {
  size_t ink = 0;
  for (uint8_t byte : data) ink += 8 - std::popcount(byte);
  return ink;
}

LabelJob ParseLabelJob(std::span<const uint8_t> stream) { return JobReader(stream).Read(); }
