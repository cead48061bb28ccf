// thermallabel-app: our label printers as IPP Everywhere printers (PAPPL).
//
//   thermallabel-app --port N --state DIR --printer NAME=203dpi|300dpi,DEVICE-URI ...
//
// Runs in the foreground until SIGTERM or SIGINT; the printers' settings are
// kept in DIR across restarts.
#include <fcntl.h>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app_options.h"
#include "label_driver.h"
#include "label_job.h"
#include "label_page.h"
#include "pappl_fixes.h"

namespace {

struct SystemDeleter {
  void operator()(pappl_system_t* s) const { papplSystemDelete(s); }
};

struct SaveTarget {
  std::string file, speeds;
};

bool SaveState(pappl_system_t* system, void* data) {
  const auto* target = static_cast<SaveTarget*>(data);
  return papplSystemSaveState(system, target->file.c_str()) &&
         SaveSpeedDefaults(system, target->speeds);
}

// A printer of the command line: kept with its settings when the state file
// has it with the same model and device, made anew otherwise.
bool EnsurePrinter(pappl_system_t* system, const PrinterArg& p) {
  const std::string resource = "/ipp/print/" + p.name;
  if (pappl_printer_t* old = papplSystemFindPrinter(system, resource.c_str(), 0, nullptr)) {
    if (p.driver == papplPrinterGetDriverName(old) && p.uri == papplPrinterGetDeviceURI(old)) {
      return true;
    }
    papplPrinterDelete(old);
  }
  pappl_printer_t* printer =
      papplPrinterCreate(system, 0, p.name.c_str(), p.driver.c_str(), nullptr, p.uri.c_str());
  if (!printer) {
    fprintf(stderr, "ERROR: Unable to create printer %s (%s, %s)\n", p.name.c_str(),
            p.driver.c_str(), p.uri.c_str());
    return false;
  }
  return true;
}

using SystemPtr = std::unique_ptr<pappl_system_t, SystemDeleter>;

// The system, logging to standard error (--log FILE: FILE in its place).
SystemPtr CreateSystem(const AppOptions& options, const std::string& spool) {
  pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY |
                              PAPPL_SOPTIONS_NO_TLS;
  if (options.listen != "localhost") soptions |= PAPPL_SOPTIONS_WEB_REMOTE;
  // The conversion library's trace lines join the log at the debug level.
  if (options.logLevel != PAPPL_LOGLEVEL_DEBUG) SetTraceOutput(nullptr);
  if (options.log != "-") {
    const int fd = open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) {
      fprintf(stderr, "ERROR: Unable to open the log %s: %s\n", options.log.c_str(),
              strerror(errno));
      return nullptr;
    }
    close(fd);
  }
  // PAPPL 1.3.1 deadlocks when it rotates its log (its log lock is taken
  // again inside the rotation), and it rotates a log larger than 1 MiB as
  // soon as the system is created. It logs to standard error, which is
  // /dev/null while the system is created, and rotation is then turned off.
  const int savedStderr = dup(STDERR_FILENO);
  if (const int null = open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
    dup2(null, STDERR_FILENO);
    close(null);
  }
  SystemPtr system(papplSystemCreate(soptions, "Thermal Label Printers", options.port,
                                     "_print,_universal", spool.c_str(), "-", options.logLevel,
                                     nullptr, false));
  if (system) papplSystemSetMaxLogSize(system.get(), 0);
  dup2(savedStderr, STDERR_FILENO);
  close(savedStderr);
  if (!system) fprintf(stderr, "ERROR: Unable to create the printer system\n");
  return system;
}

}  // namespace

int main(int argc, char* argv[]) {
  AppOptions options;
  if (std::string error = ParseAppOptions(argc, argv, options); !error.empty()) {
    fprintf(stderr, "ERROR: %s\n\n%s", error.c_str(), kAppUsage);
    return 2;
  }
  if (options.help) {
    fputs(kAppUsage, stdout);
    return 0;
  }
  const std::string spool = options.state + "/spool";
  for (const std::string& dir : {options.state, spool}) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      fprintf(stderr, "ERROR: Unable to create %s: %s\n", dir.c_str(), strerror(errno));
      return 1;
    }
  }
  if (std::string error = CheckPortFree(options.listen, options.port); !error.empty()) {
    fprintf(stderr, "ERROR: %s\n", error.c_str());
    return 1;
  }

  SystemPtr system = CreateSystem(options, spool);
  if (!system) return 1;
  // Every printer, from the command line, the state file or added while running, gets its
  // supplies (not kept in the state file) and its Label page.
  auto created = [](pappl_printer_t* printer, void*) {
    SetLabelSupplies(printer);
    AddLabelPage(printer);
  };
  papplSystemSetPrinterDrivers(system.get(), DriverCount(), Drivers(), nullptr, created,
                               LabelDriverCallback, nullptr);
  AddLabelStrings(system.get());
  // PAPPL 1.3.1's page footer crashes without a footer of the application's.
  papplSystemSetFooterHTML(system.get(), "Thermal label printer application");

  SaveTarget save{options.state + "/thermallabel-app.state", options.state + "/print-speeds"};
  papplSystemLoadState(system.get(), save.file.c_str());
  for (const PrinterArg& p : options.printers) {
    if (!EnsurePrinter(system.get(), p)) return 1;
  }
  LoadSpeedDefaults(system.get(), save.speeds);
  papplSystemSetSaveCallback(system.get(), SaveState, &save);

  const char* host = options.listen == "*" ? nullptr : options.listen.c_str();
  if (!papplSystemAddListeners(system.get(), host)) {
    fprintf(stderr, "ERROR: Unable to listen on %s port %d\n", options.listen.c_str(),
            options.port);
    return 1;
  }
  fprintf(stderr, "INFO: Listening on http://%s:%d/\n", options.listen.c_str(), options.port);
  papplSystemRun(system.get());
  return 0;
}
