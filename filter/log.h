// Log lines of the filter, by CUPS's filter conventions.
//
//   Debug      "DEBUG: " traces: logged by the scheduler only at LogLevel debug
//   Info       "INFO: " what the user should see (the printer's state message)
//   Warning    "WARNING: " something the user should know; the label still prints
//   Error      "ERROR: " what really failed
//   PageDone   "PAGE: n copies", so that the scheduler counts the labels
//   SetTraceOutput  where the lines go
//
// Every line ends with a line end; control characters inside a message (from a raster
// header or a PPD) are shown as '?', so that no input can start a line of its own.  Once an
// error has been logged, later INFO and WARNING lines are written as DEBUG lines: the
// scheduler shows the latest of them as the printer's state, and the failure must stay there.
#pragma once

#include <cstdint>
#include <cstdio>

// Where the library's log lines go: standard error by default; nullptr: nowhere.
void SetTraceOutput(FILE* out);

void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PageDone(int page, int copies);

// Whether an ERROR line has been logged since the last ResetLog.
bool ErrorLogged();
void ResetLog();

// Writes text as it is (progress attribute lines that are already formatted).
void LogRaw(const char* text, std::size_t length);

// Hands the lines written so far to the scheduler.  The filter buffers standard error and
// flushes it before it waits for input and after each label, so that a page's many lines cost
// a few writes, not one each.
void FlushLog();

// The low 32 bits of an address, for the "%x" fields of the traces.
inline unsigned LogAddr(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}
