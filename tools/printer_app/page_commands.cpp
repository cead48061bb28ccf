// The one call from the printer application into the conversion library.
#include "page_commands.h"

#include "label_job.h"

void StartConversionJob() { ResetTwoDimensionCodeRects(); }

std::string PageCommands(const PrinterChoices& choices, const cups_page_header2_t& header,
                         std::vector<unsigned char>& rows, unsigned rowCount) {
  return LabelJobOfPage(choices, header, rows, rowCount);
}
