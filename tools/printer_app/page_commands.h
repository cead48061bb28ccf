// The one call from the printer application into the conversion library.
//
//   PageCommands      the printer commands of one page (its label job)
//   StartConversionJob  per-job state of the conversion, reset
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "printer_options.h"

// The label job of one page: rows holds rowCount rows of the page with this
// header (header.cupsBytesPerLine bytes each; 1, 8 or 24 bits per pixel) and
// is used as working memory. The bytes are those the filter writes for the
// same page with the same choices. Throws std::bad_alloc.
std::string PageCommands(const PrinterChoices& choices, const cups_page_header2_t& header,
                         std::vector<unsigned char>& rows, unsigned rowCount);

// Called at the start of each job, in the job's thread: the table of
// two-dimensional codes found so far is per thread.
void StartConversionJob();
