// What PAPPL 1.3.1 gets wrong, built around.
//
//   CheckPortFree      papplSystemAddListeners reports success on a taken port
//   InstallPapplFixes  the system-wide fixes, before papplSystemRun
#pragma once

#include <pappl/pappl.h>

#include <string>

// Whether the port can be had on every address of host ("*": any); returns
// what stands in the way, or "".
std::string CheckPortFree(const std::string& host, int port);

void InstallPapplFixes(pappl_system_t* system);
