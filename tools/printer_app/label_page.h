// The web interface's "Label" page of a printer: label mode (tear-off,
// peel-off, cutter, cut at the end of the job) and the tear-off offset,
// which PAPPL 1.3.1's own pages do not offer. Localized names for the
// vendor attributes on PAPPL's "Printing Defaults" page.
#pragma once

#include <pappl/pappl.h>

// The names of the vendor attributes, for the whole system.
void AddLabelStrings(pappl_system_t* system);

// Adds the page and its link to one printer.
void AddLabelPage(pappl_printer_t* printer);
