// What PAPPL 1.3.1 gets wrong, built around.
//
//   CheckPortFree      papplSystemAddListeners reports success on a taken port
//   InstallPapplFixes  the system-wide fixes, before papplSystemRun
//   UpdateDriverDefaults  changes a printer's driver defaults
//   SaveSpeedDefaults, LoadSpeedDefaults   print-speed-default, which PAPPL's
//                      state file leaves out, in a file of its own
//
// Set-Printer-Attributes and Get-Printer-Attributes are corrected in
// pappl_fixes.cpp by a wrapper of PAPPL's printer IPP service.
#pragma once

#include <pappl/pappl.h>

#include <functional>
#include <string>

// Whether the port can be had on every address of host ("*": any); returns
// what stands in the way, or "".
std::string CheckPortFree(const std::string& host, int port);

void InstallPapplFixes(pappl_system_t* system);

bool SaveSpeedDefaults(pappl_system_t* system, const std::string& file);
void LoadSpeedDefaults(pappl_system_t* system, const std::string& file);

// Changes a printer's driver defaults (papplPrinterSetDriverDefaults), its
// vendor defaults kept.
void UpdateDriverDefaults(pappl_printer_t* printer,
                          const std::function<void(pappl_pr_driver_data_t&)>& change);
