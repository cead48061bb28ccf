// Running the filter and the tools as child processes, the way the scheduler
// does: arguments, environment, standard input from a file, both output
// streams collected.
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
  // When set, SIGTERM is sent once this many bytes of standard error have
  // arrived (0: at once after start).
  std::optional<size_t> sigterm_after_err_bytes;
  std::string sigterm_after_err_text;  // or once this text appears
  // When set, the child's address space is limited to this many bytes
  // (RLIMIT_AS), so that an allocation beyond it fails instead of growing.
  std::optional<size_t> address_space_limit;
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

// Standard error with the "%x" addresses of buffers and handles replaced by
// "X", so that logs can be compared exactly.
std::string MaskAddresses(const std::string& err);
