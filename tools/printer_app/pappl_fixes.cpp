// What PAPPL 1.3.1 gets wrong, built around.
#include "pappl_fixes.h"

#include <cups/cups.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "printer_options.h"

namespace {

struct AddrListDeleter {
  void operator()(http_addrlist_t* a) const { httpAddrFreeList(a); }
};

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
struct ArrayDeleter {
  void operator()(cups_array_t* a) const { cupsArrayDelete(a); }
};

constexpr const char* kTearOffset = "label-tear-offset-configured";

// A valid tear-off offset of the request, taken out of it.
std::optional<int> TakeTearOffset(pappl_printer_t* printer, ipp_t* request) {
  ipp_attribute_t* a = ippFindAttribute(request, kTearOffset, IPP_TAG_ZERO);
  if (!a || ippGetGroupTag(a) != IPP_TAG_PRINTER || ippGetValueTag(a) != IPP_TAG_INTEGER ||
      ippGetCount(a) != 1) {
    return std::nullopt;
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const int value = ippGetInteger(a, 0);
  if (value < data.tear_offset_supported[0] || value > data.tear_offset_supported[1]) {
    return std::nullopt;
  }
  ippDeleteAttribute(request, a);
  return value;
}

void SetTearOffset(pappl_printer_t* printer, int value) {
  UpdateDriverDefaults(printer,
                       [&](pappl_pr_driver_data_t& d) { d.tear_offset_configured = value; });
}

// A media collection (media-col, -default or -ready) whose top offset or
// tracking the printer does not support, which PAPPL lets through.
ipp_attribute_t* BadMediaCol(pappl_printer_t* printer, ipp_t* request, const char* name) {
  ipp_attribute_t* col = ippFindAttribute(request, name, IPP_TAG_BEGIN_COLLECTION);
  ipp_t* media = col ? ippGetCollection(col, 0) : nullptr;
  if (!media) return nullptr;
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  if (ipp_attribute_t* a = ippFindAttribute(media, "media-top-offset", IPP_TAG_ZERO)) {
    const int v = ippGetInteger(a, 0);
    if (ippGetValueTag(a) != IPP_TAG_INTEGER || v < data.top_offset_supported[0] ||
        v > data.top_offset_supported[1]) {
      return col;
    }
  }
  if (ipp_attribute_t* a = ippFindAttribute(media, "media-tracking", IPP_TAG_ZERO)) {
    const char* t = ippGetString(a, 0, nullptr);
    if (ippGetValueTag(a) != IPP_TAG_KEYWORD || !t ||
        (strcmp(t, "continuous") != 0 && strcmp(t, "gap") != 0 && strcmp(t, "mark") != 0)) {
      return col;
    }
  }
  return nullptr;
}

// A printer setting outside what the printer supports, which PAPPL stores
// all the same (print-speed-default -2147483648, label-mode-configured rewind).
ipp_attribute_t* BadPrinterSetting(pappl_printer_t* printer, ipp_t* request) {
  pappl_pr_driver_data_t d;
  papplPrinterGetDriverData(printer, &d);
  const struct {
    const char* name;
    int lower, upper;
  } ranges[] = {{"print-speed-default", d.speed_supported[0], d.speed_supported[1]},
                {"printer-darkness-configured", 0, 100},
                {"print-darkness-default", -100, 100}};
  for (const auto& r : ranges) {
    ipp_attribute_t* a = ippFindAttribute(request, r.name, IPP_TAG_ZERO);
    if (!a) continue;
    const int v = ippGetInteger(a, 0);
    // 0 is "auto" for the speed.
    const bool auto0 = v == 0 && strcmp(r.name, "print-speed-default") == 0;
    if (ippGetValueTag(a) != IPP_TAG_INTEGER || ippGetCount(a) != 1 ||
        ((v < r.lower || v > r.upper) && !auto0)) {
      return a;
    }
  }
  if (ipp_attribute_t* a = ippFindAttribute(request, "label-mode-configured", IPP_TAG_ZERO)) {
    const char* mode = ippGetString(a, 0, nullptr);
    bool known = false;
    for (const char* m : {"tear-off", "peel-off", "cutter", "cutter-delayed"}) {
      known = known || (mode && strcmp(mode, m) == 0);
    }
    if (ippGetValueTag(a) != IPP_TAG_KEYWORD || ippGetCount(a) != 1 || !known) return a;
  }
  for (const char* name : {"media-col-default", "media-col-ready"}) {
    if (ipp_attribute_t* a = BadMediaCol(printer, request, name)) return a;
  }
  return nullptr;
}

// A vendor attribute (job requests: "<name>" in the job group;
// Set-Printer-Attributes: "<name>-default" in the printer group) of the wrong
// group, syntax, count or value, which PAPPL lets through.
ipp_attribute_t* BadVendorAttribute(ipp_t* request, bool defaults) {
  for (const VendorOption& o : kVendorOptions) {
    const std::string name = std::string(o.name) + (defaults ? "-default" : "");
    ipp_attribute_t* a = ippFindAttribute(request, name.c_str(), IPP_TAG_ZERO);
    if (!a) continue;
    const ipp_tag_t tag = o.kind == VendorOption::Kind::Keyword   ? IPP_TAG_KEYWORD
                          : o.kind == VendorOption::Kind::Boolean ? IPP_TAG_BOOLEAN
                                                                  : IPP_TAG_INTEGER;
    char text[256];
    ippAttributeString(a, text, sizeof text);
    if (ippGetGroupTag(a) != (defaults ? IPP_TAG_PRINTER : IPP_TAG_JOB) ||
        ippGetValueTag(a) != tag || ippGetCount(a) != 1 || ChoiceOfVendorValue(o, text).empty()) {
      return a;
    }
  }
  return nullptr;
}

void FixPrinterAttributes(pappl_printer_t* printer, ipp_t* request, ipp_t* response) {
  std::unique_ptr<cups_array_t, ArrayDeleter> ra(ippCreateRequestedArray(request));
  auto requested = [&](const char* name) {
    return !ra || cupsArrayFind(ra.get(), const_cast<char*>(name)) ||
           cupsArrayFind(ra.get(), const_cast<char*>("printer-defaults"));
  };
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  if (ipp_attribute_t* wrong = ippFindAttribute(response, "printer-speed-default", IPP_TAG_ZERO)) {
    ippDeleteAttribute(response, wrong);
  }
  if (requested("print-speed-default") &&
      !ippFindAttribute(response, "print-speed-default", IPP_TAG_ZERO)) {
    ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "print-speed-default",
                  data.speed_default);
  }
  if (requested("print-darkness-default") &&
      !ippFindAttribute(response, "print-darkness-default", IPP_TAG_ZERO)) {
    ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "print-darkness-default",
                  data.darkness_default);
  }
  // printer-up-time is integer(1:MAX), but PAPPL counts whole seconds from the start and says 0
  // within the first.
  if (ipp_attribute_t* a = ippFindAttribute(response, "printer-up-time", IPP_TAG_INTEGER);
      a && ippGetInteger(a, 0) < 1) {
    ippSetInteger(response, &a, 0, 1);
  }
  // Our strings for "en" make PAPPL list the language twice.
  bool seen = false;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a;) {
    ipp_attribute_t* next = ippNextAttribute(response);
    const char* name = ippGetName(a);
    if (name && strcmp(name, "printer-strings-languages-supported") == 0) {
      if (seen) ippDeleteAttribute(response, a);
      seen = true;
    }
    a = next;
  }
  if (ipp_attribute_t* a =
          ippFindAttribute(response, "printer-settable-attributes", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(a); ++i) {
      if (strcmp(ippGetString(a, i, nullptr), "label-tear-off-configured") == 0) {
        ippSetString(response, &a, i, kTearOffset);
      }
    }
  }
}

// Whether avahi-daemon answers on its socket.
bool AvahiDaemonRunning() {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", "/run/avahi-daemon/socket");
  const bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return up;
}

}  // namespace

// The vendor defaults are passed on as they are, so that PAPPL keeps them.
void UpdateDriverDefaults(pappl_printer_t* printer,
                          const std::function<void(pappl_pr_driver_data_t&)>& change) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  change(data);
  std::unique_ptr<ipp_t, IppDeleter> attrs(papplPrinterGetDriverAttributes(printer));
  int count = 0;
  cups_option_t* vendor = nullptr;
  for (int i = 0; i < data.num_vendor; ++i) {
    const std::string name = std::string(data.vendor[i]) + "-default";
    if (ipp_attribute_t* a = ippFindAttribute(attrs.get(), name.c_str(), IPP_TAG_ZERO)) {
      char text[256];
      ippAttributeString(a, text, sizeof text);
      count = cupsAddOption(data.vendor[i], text, count, &vendor);
    }
  }
  papplPrinterSetDriverDefaults(printer, &data, count, vendor);
  cupsFreeOptions(count, vendor);
}

std::string CheckPortFree(const std::string& host, int port) {
  const std::string service = std::to_string(port);
  std::unique_ptr<http_addrlist_t, AddrListDeleter> addrs(
      httpAddrGetList(host == "*" ? nullptr : host.c_str(), AF_UNSPEC, service.c_str()));
  if (!addrs) return "unable to look up " + host;
  for (http_addrlist_t* a = addrs.get(); a; a = a->next) {
    const int fd = socket(a->addr.addr.sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int on = 1;
    // As PAPPL binds: address reuse on, so only a live listener is in the way.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (a->addr.addr.sa_family == AF_INET6)
      setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    const int rc = bind(fd, &a->addr.addr, static_cast<socklen_t>(httpAddrLength(&a->addr)));
    const int err = errno;
    close(fd);
    if (rc != 0 && err == EADDRINUSE) {
      char text[256];
      return "port " + service + " is in use on " + httpAddrString(&a->addr, text, sizeof text);
    }
  }
  return {};
}

// PAPPL's device list looks for network printers through Avahi, and aborts
// the process (an assertion in libavahi-client) when avahi-daemon is not
// running: the web interface's /addprinter page and the PAPPL-Find-Devices
// operation did so. Without the daemon the list leaves DNS-SD out.
extern "C" bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data,
                                pappl_deverror_cb_t err_cb, void* err_data) {
  using List = bool (*)(pappl_devtype_t, pappl_device_cb_t, void*, pappl_deverror_cb_t, void*);
  static const List next = reinterpret_cast<List>(dlsym(RTLD_NEXT, "papplDeviceList"));
  if (!next) return false;
  if ((types & PAPPL_DEVTYPE_DNS_SD) && !AvahiDaemonRunning()) {
    types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
  }
  return next(types, cb, data, err_cb, err_data);
}

bool SaveSpeedDefaults(pappl_system_t* system, const std::string& file) {
  std::string text;
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t* printer, void* out) {
        pappl_pr_driver_data_t data;
        papplPrinterGetDriverData(printer, &data);
        *static_cast<std::string*>(out) += std::to_string(papplPrinterGetID(printer)) + " " +
                                           std::to_string(data.speed_default) + "\n";
      },
      &text);
  const std::string temp = file + ".new";
  FILE* f = fopen(temp.c_str(), "w");
  if (!f) return false;
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) != 0 || !ok) return false;
  return rename(temp.c_str(), file.c_str()) == 0;
}

void LoadSpeedDefaults(pappl_system_t* system, const std::string& file) {
  FILE* f = fopen(file.c_str(), "r");
  if (!f) return;
  int id = 0, speed = 0;
  while (fscanf(f, "%d %d", &id, &speed) == 2) {
    pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
    if (!printer) continue;
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    // 0 is "auto", which Set-Printer-Attributes takes too.
    if (speed != 0 && (speed < data.speed_supported[0] || speed > data.speed_supported[1]))
      continue;
    UpdateDriverDefaults(printer, [&](pappl_pr_driver_data_t& d) { d.speed_default = speed; });
  }
  fclose(f);
}

// PAPPL's IPP service of one printer, wrapped: PAPPL 1.3.1 exports its
// internal functions and calls them through its symbol table, so this
// definition is the one it calls, and the library's own is the next one.
//  1. Set-Printer-Attributes: label-tear-offset-configured is refused for
//     every value; a valid value is taken out of the request and set here.
//  2. Vendor attributes (job ones and printer defaults), media top offsets
//     and tracking, speed, darkness and label mode settings are not checked
//     (label-conversion-default 3 as an integer, print-speed-default
//     -2147483648 were stored); bad ones are refused here. The response of a new
//     job without reasons lacks job-state-reasons.
//  3. Get-Printer-Attributes: print-darkness-default is missing,
//     print-speed-default comes as printer-speed-default, and the settable
//     list names label-tear-off-configured.
extern "C" void _papplPrinterProcessIPP(pappl_client_t* client) {
  using Process = void (*)(pappl_client_t*);
  static const Process next =
      reinterpret_cast<Process>(dlsym(RTLD_NEXT, "_papplPrinterProcessIPP"));
  if (!next) return;
  pappl_printer_t* printer = papplClientGetPrinter(client);
  ipp_t* request = papplClientGetRequest(client);
  const ipp_op_t op = papplClientGetOperation(client);
  if (!printer || !request) return next(client);

  const bool jobOp = op == IPP_OP_PRINT_JOB || op == IPP_OP_VALIDATE_JOB || op == IPP_OP_CREATE_JOB;
  if (jobOp || op == IPP_OP_SET_PRINTER_ATTRIBUTES) {
    ipp_attribute_t* bad = BadVendorAttribute(request, !jobOp);
    if (!bad)
      bad =
          jobOp ? BadMediaCol(printer, request, "media-col") : BadPrinterSetting(printer, request);
    if (bad) {
      papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "Unsupported %s value.",
                            ippGetName(bad));
      papplClientRespondIPPUnsupported(client, bad);
      return;
    }
  }
  std::optional<int> tearOffset;
  if (op == IPP_OP_SET_PRINTER_ATTRIBUTES) tearOffset = TakeTearOffset(printer, request);
  next(client);
  ipp_t* response = papplClientGetResponse(client);
  if (!response || ippGetStatusCode(response) != IPP_STATUS_OK) return;
  if (tearOffset) SetTearOffset(printer, *tearOffset);
  if (op == IPP_OP_GET_PRINTER_ATTRIBUTES) FixPrinterAttributes(printer, request, response);
  // A new job's job-state-reasons is left out when it has none.
  if ((op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB) &&
      ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) &&
      !ippFindAttribute(response, "job-state-reasons", IPP_TAG_ZERO)) {
    ippAddString(response, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", nullptr, "none");
  }
}
