// One page to its label job: LabelJobOfPage.
#include "label_job.h"

#include "driver/page_intake.h"
#include "label/label_output.h"

std::string LabelJobOfPage(const Choices& choices, const cups_page_header2_t& header,
                           std::vector<unsigned char>& rows, unsigned rowCount) {
  std::vector<unsigned char> bitmapBuffer;
  const PageBitmap bitmap =
      BringToBitmap(choices, header, rows.data(), rowCount, bitmapBuffer, std::string());
  return ComposeLabelJob(choices, header, bitmap.bits, bitmap.width, bitmap.rows, 1).text;
}
