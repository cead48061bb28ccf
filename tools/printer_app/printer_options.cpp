// The printer's IPP settings as the conversion library names them.
#include "printer_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Kind = VendorOption::Kind;

// The PPD's choices with IPP keywords: lower case, words joined by "-".
constexpr std::array<const char*, 8> kConversion = {"none",
                                                    "None",
                                                    "threshold",
                                                    "Threshold",
                                                    "ordered-dithering",
                                                    "OrderDithering",
                                                    "error-diffusion",
                                                    "ErrorDiffusion"};
constexpr std::array<const char*, 8> kRotation = {"none",       "Rotation0",  "rotate-90",
                                                  "Rotation90", "rotate-180", "Rotation180",
                                                  "rotate-270", "Rotation270"};
constexpr std::array<const char*, 4> kMethod = {"direct-thermal", "Direct", "thermal-transfer",
                                                "Transfer"};

// The PPD's defaults; the ranges are those of its choices.
constexpr std::array<VendorOption, 8> kOptions = {{
    {"label-conversion", "Dithering", Kind::Keyword, kConversion, 0, 0, "threshold"},
    {"threshold-adjust", "Threshold", Kind::Range, {}, -50, 50, "-10"},
    {"label-rotation", "Origin", Kind::Keyword, kRotation, 0, 0, "none"},
    {"mirror-image", "MirrorImage", Kind::Boolean, {}, 0, 0, "false"},
    {"negative-image", "NegativeImage", Kind::Boolean, {}, 0, 0, "false"},
    {"print-method", "MediaMethod", Kind::Keyword, kMethod, 0, 0, "direct-thermal"},
    {"gap-height", "GapsHeight", Kind::Range, {}, 0, 10, "3"},
    {"cut-every-labels", "CutEveryLabels", Kind::Range, {}, 0, 100, "1"},
}};

// A whole decimal number, nothing else.
bool ParseInt(const char* s, long& value) {
  if (!s || !*s) return false;
  char* end = nullptr;
  errno = 0;
  value = strtol(s, &end, 10);
  return errno == 0 && *end == '\0';
}

}  // namespace

const std::span<const VendorOption> kVendorOptions = kOptions;

void AddVendorAttributes(ipp_t* attrs) {
  for (const VendorOption& o : kVendorOptions) {
    const std::string supported = std::string(o.name) + "-supported";
    const std::string def = std::string(o.name) + "-default";
    switch (o.kind) {
      case Kind::Keyword: {
        std::vector<const char*> keywords;
        for (size_t i = 0; i < o.keywords.size(); i += 2) keywords.push_back(o.keywords[i]);
        ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(),
                      static_cast<int>(keywords.size()), nullptr, keywords.data());
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, o.defaultValue);
        break;
      }
      case Kind::Boolean:
        ippAddBoolean(attrs, IPP_TAG_PRINTER, supported.c_str(), 1);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, def.c_str(), strcmp(o.defaultValue, "true") == 0);
        break;
      case Kind::Range:
        ippAddRange(attrs, IPP_TAG_PRINTER, supported.c_str(), o.lower, o.upper);
        ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(), atoi(o.defaultValue));
        break;
    }
  }
}

const char* PrinterChoices::Marked(const char* keyword) const {
  auto it = marked_.find(keyword);
  return it == marked_.end() ? nullptr : it->second.c_str();
}

std::string ChoiceOfVendorValue(const VendorOption& option, const char* value) {
  if (!value) return {};
  switch (option.kind) {
    case Kind::Keyword:
      for (size_t i = 0; i + 1 < option.keywords.size(); i += 2) {
        if (strcmp(option.keywords[i], value) == 0) return option.keywords[i + 1];
      }
      return {};
    case Kind::Boolean:
      if (strcmp(value, "true") == 0) return "True";
      if (strcmp(value, "false") == 0) return "False";
      return {};
    case Kind::Range: {
      long n = 0;
      if (!ParseInt(value, n) || n < option.lower || n > option.upper) return {};
      return std::to_string(n);
    }
  }
  return {};
}

int DarknessStep(int configured, int printDarkness) {
  const int level = std::clamp(configured + printDarkness, 0, 100);
  return static_cast<int>(std::lround(level * 15 / 100.0));
}

int SpeedStep(int speed) {
  if (speed <= 0) return 4;  // "auto": the PPD's default
  return std::clamp(static_cast<int>(std::lround(speed / 2540.0)), 2, 6);
}

int MillimetresOf(int hundredths) { return static_cast<int>(std::lround(hundredths / 100.0)); }

PrinterChoices ChoicesOfJob(const pappl_pr_options_t& options, const pappl_pr_driver_data_t& data,
                            ipp_t* defaults, pappl_job_t* job) {
  PrinterChoices c;
  // The head's width as our PPDs state it (MaxSize): 832 dots at 203 dpi,
  // 1248 at 300 dpi, in whole points.
  c.SetLargestWidthPoints(data.x_default >= 300 ? 299 : 295);
  c.Set("Darkness",
        std::to_string(DarknessStep(options.darkness_configured, options.print_darkness)));
  c.Set("PrintSpeed",
        std::to_string(SpeedStep(options.print_speed ? options.print_speed : data.speed_default)));

  const pappl_media_tracking_t tracking =
      options.media.tracking ? options.media.tracking : data.media_default.tracking;
  c.Set("PaperType", tracking & PAPPL_MEDIA_TRACKING_CONTINUOUS ? "Continue"
                     : tracking & PAPPL_MEDIA_TRACKING_MARK     ? "LabelMark"
                                                                : "LabelGaps");

  const pappl_label_mode_t mode = data.mode_configured;
  c.Set("PostAction", mode & PAPPL_LABEL_MODE_PEEL_OFF         ? "PeelOff"
                      : mode & PAPPL_LABEL_MODE_CUTTER         ? "CutEvery"
                      : mode & PAPPL_LABEL_MODE_CUTTER_DELAYED ? "Batch"
                                                               : "TearOff");
  // The printer has one feed offset: where the label stops after printing.
  // The labels' own top offset sets it; in tear-off mode the tear bar's
  // offset moves it further.
  int offset = options.media.top_offset;
  if (!(mode &
        (PAPPL_LABEL_MODE_PEEL_OFF | PAPPL_LABEL_MODE_CUTTER | PAPPL_LABEL_MODE_CUTTER_DELAYED))) {
    offset += data.tear_offset_configured;
  }
  c.Set("FeedPaper", std::to_string(MillimetresOf(offset)));

  for (const VendorOption& o : kVendorOptions) {
    char text[256];
    std::string choice;
    if (ipp_attribute_t* a = job ? papplJobGetAttribute(job, o.name) : nullptr) {
      ippAttributeString(a, text, sizeof text);
      choice = ChoiceOfVendorValue(o, text);
    }
    if (choice.empty() && defaults) {
      const std::string def = std::string(o.name) + "-default";
      if (ipp_attribute_t* a = ippFindAttribute(defaults, def.c_str(), IPP_TAG_ZERO)) {
        ippAttributeString(a, text, sizeof text);
        choice = ChoiceOfVendorValue(o, text);
      }
    }
    if (choice.empty()) choice = ChoiceOfVendorValue(o, o.defaultValue);
    c.Set(o.keyword, choice);
  }
  return c;
}
