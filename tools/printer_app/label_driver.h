// The printer driver of the application: our two models and their jobs.
//
//   DriverCount, Drivers  the drivers, by model ("203dpi", "300dpi")
//   LabelDriverCallback   fills a printer's capabilities and defaults
//   SetLabelSupplies      the supplies reported for a new printer
#pragma once

#include <pappl/pappl.h>

// The drivers PAPPL may create printers with.
pappl_pr_driver_t* Drivers();
int DriverCount();

// papplSystemSetPrinterDrivers's driver callback.
bool LabelDriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri,
                         const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs,
                         void* cbdata);

// The printer's supplies (labels and ribbon), for the supply queries.
void SetLabelSupplies(pappl_printer_t* printer);
