// The command line of thermallabel-app.
#include "app_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

const char kAppUsage[] =
    "Usage: thermallabel-app [OPTION]... --printer NAME=MODEL,DEVICE-URI...\n"
    "Serves thermal label printers as IPP Everywhere printers, with a web interface.\n"
    "\n"
    "  --printer NAME=MODEL,URI  a printer: MODEL 203dpi or 300dpi; URI socket://HOST,\n"
    "                            usb://..., or file:///PATH (repeatable)\n"
    "  --port N                  TCP port (default 8631)\n"
    "  --state DIR               settings, spool and state (default /var/lib/thermallabel-app)\n"
    "  --listen HOST             address to listen on (default localhost; * for all)\n"
    "  --log FILE                log file (default: standard error)\n"
    "  --log-level LEVEL         debug, info, warn or error (default info)\n"
    "  -h, --help                show this text\n";

std::string ParseAppOptions(int argc, char* argv[], AppOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      continue;
    }
    if (i + 1 >= argc) return "missing value after " + arg;
    const std::string value = argv[++i];
    if (arg == "--port") {
      char* end = nullptr;
      errno = 0;
      const long port = strtol(value.c_str(), &end, 10);
      if (errno || *end || port < 1 || port > 65535) return "bad port: " + value;
      o.port = static_cast<int>(port);
    } else if (arg == "--state") {
      o.state = value;
    } else if (arg == "--listen") {
      o.listen = value;
    } else if (arg == "--log") {
      o.log = value;
    } else if (arg == "--log-level") {
      static constexpr std::pair<const char*, pappl_loglevel_t> kLevels[] = {
          {"debug", PAPPL_LOGLEVEL_DEBUG},
          {"info", PAPPL_LOGLEVEL_INFO},
          {"warn", PAPPL_LOGLEVEL_WARN},
          {"error", PAPPL_LOGLEVEL_ERROR}};
      const auto* level = std::find_if(std::begin(kLevels), std::end(kLevels),
                                       [&](const auto& l) { return value == l.first; });
      if (level == std::end(kLevels)) return "bad log level: " + value;
      o.logLevel = level->second;
    } else if (arg == "--printer") {
      const size_t eq = value.find('='), comma = value.find(',');
      if (eq == std::string::npos || comma == std::string::npos || comma < eq || eq == 0) {
        return "bad printer: " + value + " (NAME=MODEL,URI)";
      }
      PrinterArg p{value.substr(0, eq), value.substr(eq + 1, comma - eq - 1),
                   value.substr(comma + 1)};
      if (p.driver != "203dpi" && p.driver != "300dpi") return "unknown model: " + p.driver;
      if (p.name.find_first_of("/?#% ") != std::string::npos) return "bad printer name: " + p.name;
      o.printers.push_back(std::move(p));
    } else {
      return "unknown option: " + arg;
    }
  }
  if (!o.help && o.printers.empty()) return "no --printer given";
  return {};
}
