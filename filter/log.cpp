// Log lines of the filter: one write per line, prefix and line end added here.
#include "log.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace {

// Standard error, looked up at each line, until SetTraceOutput chooses another (or none).
bool outputChosen = false;
FILE* chosenOutput = nullptr;

FILE* Output() { return outputChosen ? chosenOutput : stderr; }
// Per thread: a printer application converts its jobs in threads of their own.
thread_local bool errorLogged = false;

// A line never grows without limit: traces are short, and input-derived text is bounded.
constexpr std::size_t kLongestLine = 1024;

void Write(const char* prefix, const char* format, va_list args) {
  FILE* output = Output();
  if (output == nullptr) return;
  char line[kLongestLine + 2];
  const std::size_t head = std::strlen(prefix);
  std::memcpy(line, prefix, head);
  const int n = std::vsnprintf(line + head, kLongestLine - head, format, args);
  std::size_t end = head + (n < 0 ? 0 : std::min<std::size_t>(n, kLongestLine - head - 1));
  while (end > head && line[end - 1] == '\n') --end;
  for (std::size_t i = head; i < end; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c < 0x20 || c == 0x7F) line[i] = '?';
  }
  line[end++] = '\n';
  std::fwrite(line, 1, end, output);
}

}  // namespace

void SetTraceOutput(FILE* out) {
  outputChosen = true;
  chosenOutput = out;
}

#define LOG_WITH(prefix)       \
  va_list args;                \
  va_start(args, format);      \
  Write(prefix, format, args); \
  va_end(args)

void Debug(const char* format, ...) { LOG_WITH("DEBUG: "); }

void Info(const char* format, ...) { LOG_WITH(errorLogged ? "DEBUG: " : "INFO: "); }

void Warning(const char* format, ...) { LOG_WITH(errorLogged ? "DEBUG: " : "WARNING: "); }

void Error(const char* format, ...) {
  LOG_WITH("ERROR: ");
  errorLogged = true;
}

#undef LOG_WITH

void PageDone(int page, int copies) {
  if (FILE* output = Output()) std::fprintf(output, "PAGE: %d %d\n", page, copies);
}

bool ErrorLogged() { return errorLogged; }

void ResetLog() { errorLogged = false; }

void LogRaw(const char* text, std::size_t length) {
  if (FILE* output = Output()) std::fwrite(text, 1, length, output);
}

void FlushLog() {
  if (FILE* output = Output()) std::fflush(output);
}
