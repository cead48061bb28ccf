// The printer driver: capabilities of our two models, and the job callbacks
// that turn each page PAPPL renders into one label job.
//
// Pages arrive as 8-bit grey (or as the 1-, 8- or 24-bit raster a client
// sent): the conversion library, not PAPPL's dither, makes the 1-bit label,
// so that the printer receives what the CUPS filter would send for the page.
#include "label_driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "label_job.h"
#include "printer_options.h"

namespace {

// Model, make and model, head width in dots.
struct Model {
  const char* name;
  const char* makeAndModel;
  int dpi;
  const char* rollMax;  // the head's width, and the longest listed label
};
constexpr std::array<Model, 2> kModels = {{
    {"203dpi", "Generic Thermal Label 203dpi", 203, "roll_max_4.09x40in"},  // 832 dots
    {"300dpi", "Generic Thermal Label 300dpi", 300, "roll_max_4.16x40in"},  // 1248 dots
}};

pappl_pr_driver_t kDrivers[] = {
    {"203dpi", "Generic Thermal Label 203dpi", "MFG:Generic;MDL:Thermal Label 203dpi;CMD:TSC;",
     nullptr},
    {"300dpi", "Generic Thermal Label 300dpi", "MFG:Generic;MDL:Thermal Label 300dpi;CMD:TSC;",
     nullptr},
};

// The label sizes of our PPDs. IPP's media names allow no "." in their name
// part, so 2.25 inches is "2-25" there; the size part keeps its decimals.
constexpr const char* kMedia[] = {
    "oe_1x0-5-label_1x0.5in",
    "oe_1-5x1-label_1.5x1in",
    "oe_2x1-label_2x1in",
    "oe_2x2-label_2x2in",
    "oe_2-25x1-25-label_2.25x1.25in",
    "oe_3x1-label_3x1in",
    "oe_3x2-label_3x2in",
    "oe_4x1-label_4x1in",
    "oe_4x2-label_4x2in",
    "oe_4x3-label_4x3in",
    "oe_4x4-label_4x4in",
    "oe_4x6-label_4x6in",
    "oe_4x8-label_4x8in",
    "oe_4x12-label_4x12in",
    "oe_4x40-label_4x40in",
    "om_25x15-label_25x15mm",
    "om_30x20-label_30x20mm",
    "om_40x30-label_40x30mm",
    "om_50x25-label_50x25mm",
    "om_50x30-label_50x30mm",
    "om_60x40-label_60x40mm",
    "om_70x50-label_70x50mm",
    "om_80x50-label_80x50mm",
    "om_100x50-label_100x50mm",
    "om_100x100-label_100x100mm",
    "om_100x150-label_100x150mm",
    "om_100x200-label_100x200mm",
    "om_100x300-label_100x300mm",
};
constexpr const char* kDefaultMedia = "oe_4x6-label_4x6in";

// The most bytes one page's raster may take (the filter's default limit).
constexpr size_t kPageLimit = size_t{1} << 30;

// PAPPL 1.3.1 was seen to start about one job in 200 twice, in two threads at
// once. The first start of a job prints it; a second start prints nothing.
class StartedJobs {
 public:
  bool Claim(pappl_job_t* job) {
    const auto key = std::make_pair(papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job));
    std::lock_guard lock(mutex_);
    if (!started_.insert(key).second) return false;
    if (started_.size() > 4096) started_.erase(started_.begin());
    return true;
  }

 private:
  std::mutex mutex_;
  std::set<std::pair<int, int>> started_;
};
StartedJobs startedJobs;

// The job that this thread prints: callbacks of one job all run in its thread.
struct JobState {
  bool duplicate = false;
  PrinterChoices choices;
  cups_page_header2_t header{};
  std::vector<unsigned char> rows;
  unsigned rowsWritten = 0;
};
thread_local std::unique_ptr<JobState> current;

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  current = std::make_unique<JobState>();
  if (!startedJobs.Claim(job)) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Job started a second time; this start prints nothing");
    current->duplicate = true;
    return true;
  }
  ResetTwoDimensionCodeRects();  // the codes found so far are per job
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  std::unique_ptr<ipp_t, IppDeleter> defaults(papplPrinterGetDriverAttributes(printer));
  current->choices = ChoicesOfJob(*options, data, defaults.get(), job);
  return true;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
  if (!current || current->duplicate) return true;
  const cups_page_header2_t& h = options->header;
  const unsigned bpp = h.cupsBitsPerPixel;
  // Each page's header is checked: resolution, size and depth may change.
  if (bpp != 1 && bpp != 8 && bpp != 24) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u has %u bits per pixel; 1, 8 or 24 print", page,
                bpp);
    return false;
  }
  const size_t need = (size_t{h.cupsWidth} * bpp + 7) / 8;
  const size_t bytes = size_t{h.cupsBytesPerLine} * h.cupsHeight;
  if (h.cupsWidth == 0 || h.cupsHeight == 0 || h.cupsBytesPerLine < need ||
      h.HWResolution[0] == 0 || h.HWResolution[1] == 0 || bytes > kPageLimit) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u: unusable page header (%ux%u, %u bytes a row)",
                page, h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine);
    return false;
  }
  current->header = h;
  // PAPPL repeats the pages of pictures for their copies, but not those of
  // raster documents: the printer makes them (PRINT 1,N), as with the filter.
  const char* format = papplJobGetFormat(job);
  if (options->copies > 1 && format &&
      (strcmp(format, "image/pwg-raster") == 0 || strcmp(format, "image/urf") == 0)) {
    current->header.NumCopies = static_cast<unsigned>(options->copies);
  }
  current->rowsWritten = 0;
  try {
    current->rows.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u: not enough memory", page);
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page %u: %ux%u dots at %ux%u dpi, %u bits", page,
              h.cupsWidth, h.cupsHeight, h.HWResolution[0], h.HWResolution[1], bpp);
  return true;
}

bool WriteLine(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned y,
               const unsigned char* line) {
  if (!current || current->duplicate) return true;
  const cups_page_header2_t& h = current->header;
  if (y >= h.cupsHeight || current->rows.empty()) return false;
  memcpy(current->rows.data() + size_t{y} * h.cupsBytesPerLine, line, h.cupsBytesPerLine);
  current->rowsWritten = std::max(current->rowsWritten, y + 1);
  return true;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned page) {
  if (!current || current->duplicate) return true;
  std::string commands;
  try {
    commands =
        LabelJobOfPage(current->choices, current->header, current->rows, current->rowsWritten);
  } catch (const std::bad_alloc&) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u: not enough memory", page);
    return false;
  }
  std::vector<unsigned char>().swap(current->rows);
  if (commands.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u: no label job", page);
    return false;
  }
  if (papplDeviceWrite(device, commands.data(), commands.size()) < 0) return false;
  papplDeviceFlush(device);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Page %u: label job of %u bytes", page,
              static_cast<unsigned>(commands.size()));
  return true;
}

bool EndJob(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*) {
  current.reset();
  return true;
}

// Jobs in the printer's own command language go to it as they are.
bool PrintFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  if (!startedJobs.Claim(job)) return true;
  const int fd = open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  bool ok = true;
  for (ssize_t n; ok && (n = read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0 && papplDeviceWrite(device, buf, static_cast<size_t>(n)) >= 0;
  }
  close(fd);
  papplDeviceFlush(device);
  return ok;
}

// The printer beeps (its SOUND command).
void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char*) {
  if (pappl_device_t* device = papplPrinterOpenDevice(printer)) {
    papplDevicePuts(device, "SOUND 5,200\r\n");
    papplDeviceFlush(device);
    papplPrinterCloseDevice(printer);
  }
}

void SetMedia(pappl_media_col_t& m, const char* name) {
  pwg_media_t* pwg = pwgMediaForPWG(name);
  snprintf(m.size_name, sizeof m.size_name, "%s", name);
  m.size_width = pwg ? pwg->width : 0;
  m.size_length = pwg ? pwg->length : 0;
  m.bottom_margin = m.left_margin = m.right_margin = m.top_margin = 1;
  snprintf(m.source, sizeof m.source, "main-roll");
  snprintf(m.type, sizeof m.type, "labels");
  m.tracking = PAPPL_MEDIA_TRACKING_GAP;
}

}  // namespace

pappl_pr_driver_t* Drivers() { return kDrivers; }
int DriverCount() { return static_cast<int>(std::size(kDrivers)); }

bool LabelDriverCallback(pappl_system_t*, const char* driver_name, const char*, const char*,
                         pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  const Model* model = nullptr;
  for (const Model& m : kModels) {
    if (strcmp(m.name, driver_name) == 0) model = &m;
  }
  if (!model) return false;

  data->printfile_cb = PrintFile;
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->rendpage_cb = EndPage;
  data->rendjob_cb = EndJob;
  data->identify_cb = Identify;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_SOUND;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;
  // Without a format of its own, PAPPL 1.3.1 crashes on a job that no filter
  // takes; ours is the printer's command language, printed as it is.
  data->format = "application/vnd.cups-label";

  snprintf(data->make_and_model, sizeof data->make_and_model, "%s", model->makeAndModel);
  data->ppm = 8;
  data->kind = PAPPL_KIND_LABEL | PAPPL_KIND_ROLL;
  data->has_supplies = true;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  // 8-bit grey only, so that PAPPL never dithers: our conversion does.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_8;
  data->duplex = PAPPL_DUPLEX_NONE;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->finishings = PAPPL_FINISHINGS_NONE;
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = model->dpi;
  data->x_default = data->y_default = model->dpi;
  // Labels are printed to their edges, but with zero margins CUPS names every
  // size of a driverless queue "...Borderless", finds no size for the
  // default, and falls back to Letter: a hundredth of a millimetre avoids it.
  data->borderless = false;
  data->left_right = data->bottom_top = 1;

  data->num_media = 0;
  for (const char* m : kMedia) data->media[data->num_media++] = m;
  data->media[data->num_media++] = "roll_min_0.5x0.5in";
  data->media[data->num_media++] = model->rollMax;
  SetMedia(data->media_default, kDefaultMedia);
  SetMedia(data->media_ready[0], kDefaultMedia);
  data->num_source = 1;
  data->source[0] = "main-roll";
  data->num_type = 1;
  data->type[0] = "labels";
  data->top_offset_supported[0] = -500;
  data->top_offset_supported[1] = 500;
  data->tracking_supported =
      PAPPL_MEDIA_TRACKING_CONTINUOUS | PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK;

  data->mode_supported = PAPPL_LABEL_MODE_TEAR_OFF | PAPPL_LABEL_MODE_PEEL_OFF |
                         PAPPL_LABEL_MODE_CUTTER | PAPPL_LABEL_MODE_CUTTER_DELAYED;
  data->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
  data->tear_offset_supported[0] = -500;
  data->tear_offset_supported[1] = 500;
  data->tear_offset_configured = 0;
  // Speed in hundredths of millimetres per second: 2 to 6 inches.
  data->speed_supported[0] = 2 * 2540;
  data->speed_supported[1] = 6 * 2540;
  data->speed_default = 4 * 2540;
  // 16 heat steps; 53 % is step 8, the PPD's default.
  data->darkness_supported = 16;
  data->darkness_configured = 53;
  data->darkness_default = 0;

  data->num_vendor = 0;
  for (const VendorOption& o : kVendorOptions) data->vendor[data->num_vendor++] = o.name;

  ipp_t* a = ippNew();
  AddVendorAttributes(a);
  // What IPP Everywhere asks for and PAPPL 1.3.1 leaves out.
  ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  static const char* const overrides[] = {"document-number", "pages"};
  ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, overrides);
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
  *attrs = a;
  return true;
}

void SetLabelSupplies(pappl_printer_t* printer) {
  pappl_supply_t supplies[2] = {};
  supplies[0].color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  snprintf(supplies[0].description, sizeof supplies[0].description, "Labels");
  supplies[0].is_consumed = true;
  supplies[0].level = -1;
  supplies[0].type = PAPPL_SUPPLY_TYPE_OTHER;
  supplies[1].color = PAPPL_SUPPLY_COLOR_BLACK;
  snprintf(supplies[1].description, sizeof supplies[1].description, "Ribbon");
  supplies[1].is_consumed = true;
  supplies[1].level = -1;
  supplies[1].type = PAPPL_SUPPLY_TYPE_RIBBON_WAX;
  papplPrinterSetSupplies(printer, 2, supplies);
}
