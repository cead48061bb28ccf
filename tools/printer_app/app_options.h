// The command line of thermallabel-app.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

extern const char kAppUsage[];

struct PrinterArg {
  std::string name, driver, uri;
};

struct AppOptions {
  int port = 8631;
  std::string state = "/var/lib/thermallabel-app";
  std::string listen = "localhost";  // "*": every address
  std::string log = "-";             // standard error
  pappl_loglevel_t logLevel = PAPPL_LOGLEVEL_INFO;
  std::vector<PrinterArg> printers;
  bool help = false;
};

// Reads argv into options; returns what is wrong with it, or "".
std::string ParseAppOptions(int argc, char* argv[], AppOptions& options);
