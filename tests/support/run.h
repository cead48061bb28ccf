// Running the filter and the tools as the scheduler does: arguments, environment, standard input
// from a file, both output streams collected.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
};

struct RunOptions {
  std::vector<std::string> args;                          // argv[0] first
  std::map<std::string, std::optional<std::string>> env;  // set (value) or unset (nullopt)
  std::string stdin_path;                                 // empty: /dev/null
  std::optional<size_t> sigterm_after_err_bytes;  // SIGTERM once this much standard error came
  std::string sigterm_after_err_text;             // or once this text appears in it
  std::optional<size_t> address_space_limit;      // RLIMIT_AS of the child
  // Standard output's reading end is closed at once, as when the printer connection goes away.
  bool closed_stdout = false;
};

RunResult Run(const RunOptions& opts);

// A fresh temporary directory, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

// How often `what` occurs in s.
size_t Count(const std::string& s, const std::string& what);

// readlabel's summary of a label job, one string a label (its lines up to its PRINT line), read
// strictly; empty, with the reader's complaint in *fault, when the job is not well formed.
std::vector<std::string> ReadLabels(const std::string& job, std::string* fault = nullptr);

// Standard error with the "%x" addresses of buffers and handles replaced by
// "X", so that logs can be compared exactly.
std::string MaskAddresses(const std::string& err);
