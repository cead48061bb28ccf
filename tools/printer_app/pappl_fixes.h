// What PAPPL 1.3.1 gets wrong, built around.
//
//   CheckPortFree      papplSystemAddListeners reports success on a taken port
//   UpdateDriverDefaults  changes a printer's driver defaults
//   SaveSpeedDefaults, LoadSpeedDefaults   print-speed-default, which PAPPL's
//                      state file leaves out, in a file of its own
//
// pappl_fixes.cpp also wraps two of PAPPL's functions: its printer IPP
// service (Set-/Get-Printer-Attributes corrected) and its device list
// (no DNS-SD without avahi-daemon).
#pragma once

#include <pappl/pappl.h>

#include <functional>
#include <string>

// Whether the port can be had on every address of host ("*": any); returns
// what stands in the way, or "".
std::string CheckPortFree(const std::string& host, int port);

bool SaveSpeedDefaults(pappl_system_t* system, const std::string& file);
void LoadSpeedDefaults(pappl_system_t* system, const std::string& file);

// Changes a printer's driver defaults (papplPrinterSetDriverDefaults), its
// vendor defaults kept.
void UpdateDriverDefaults(pappl_printer_t* printer,
                          const std::function<void(pappl_pr_driver_data_t&)>& change);
