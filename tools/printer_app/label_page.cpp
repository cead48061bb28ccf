// The web interface's "Label" page of a printer.
#include "label_page.h"

#include <cstdlib>
#include <cstring>

#include "pappl_fixes.h"

namespace {

constexpr struct {
  pappl_label_mode_t mode;
  const char* keyword;
  const char* text;
} kModes[] = {
    {PAPPL_LABEL_MODE_TEAR_OFF, "tear-off", "Tear off"},
    {PAPPL_LABEL_MODE_PEEL_OFF, "peel-off", "Peel off"},
    {PAPPL_LABEL_MODE_CUTTER, "cutter", "Cut (every N labels, see Printing Defaults)"},
    {PAPPL_LABEL_MODE_CUTTER_DELAYED, "cutter-delayed", "Cut at the end of the job"},
};

// Applies a posted form; returns the message for the page.
const char* Apply(pappl_client_t* client, pappl_printer_t* printer) {
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  const char* message = "Changes saved.";
  if (!papplClientIsValidForm(client, count, form)) {
    message = "Invalid form data.";
  } else {
    const char* mode = cupsGetOption("label-mode", count, form);
    const char* offset = cupsGetOption("tear-offset", count, form);
    pappl_label_mode_t chosen = 0;
    for (const auto& m : kModes) {
      if (mode && strcmp(mode, m.keyword) == 0) chosen = m.mode;
    }
    char* end = nullptr;
    const double mm = offset ? strtod(offset, &end) : 0.0;
    if (!chosen || !offset || end == offset || *end || mm < -5.0 || mm > 5.0) {
      message = "Bad label mode or offset.";
    } else {
      UpdateDriverDefaults(printer, [&](pappl_pr_driver_data_t& d) {
        d.mode_configured = chosen;
        d.tear_offset_configured = static_cast<int>(mm * 100.0 + (mm < 0 ? -0.5 : 0.5));
      });
    }
  }
  cupsFreeOptions(count, form);
  return message;
}

bool LabelPage(pappl_client_t* client, void* data) {
  auto* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  const char* message = nullptr;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) message = Apply(client, printer);

  pappl_pr_driver_data_t d;
  papplPrinterGetDriverData(printer, &d);
  papplClientHTMLPrinterHeader(client, printer, "Label", 0, nullptr, nullptr);
  if (message) papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", message);
  char path[256];
  papplPrinterGetPath(printer, "label", path, sizeof path);
  papplClientHTMLStartForm(client, path, false);
  papplClientHTMLPuts(client,
                      "<table class=\"form\"><tbody>\n"
                      "<tr><th>After Printing:</th><td><select name=\"label-mode\">");
  for (const auto& m : kModes) {
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", m.keyword,
                          d.mode_configured == m.mode ? " selected" : "", m.text);
  }
  papplClientHTMLPrintf(
      client,
      "</select></td></tr>\n"
      "<tr><th>Tear-Off Offset:</th><td><input type=\"number\" "
      "name=\"tear-offset\" min=\"-5\" max=\"5\" step=\"0.1\" value=\"%.1f\">"
      "&nbsp;mm</td></tr>\n"
      "<tr><th></th><td><input type=\"submit\" value=\"Save Changes\"></td></tr>\n"
      "</tbody></table></form>\n",
      d.tear_offset_configured / 100.0);
  papplClientHTMLPrinterFooter(client);
  return true;
}

// The names of the vendor attributes on "Printing Defaults".
constexpr char kStrings[] =
    "\"label-conversion\" = \"Grey Conversion\";\n"
    "\"threshold-adjust\" = \"Threshold Adjustment\";\n"
    "\"label-rotation\" = \"Rotation\";\n"
    "\"mirror-image\" = \"Mirror Image\";\n"
    "\"negative-image\" = \"Negative Image\";\n"
    "\"print-method\" = \"Print Method\";\n"
    "\"gap-height\" = \"Gap or Mark Height (mm)\";\n"
    "\"cut-every-labels\" = \"Cut Every N Labels\";\n";

}  // namespace

void AddLabelStrings(pappl_system_t* system) {
  papplSystemAddStringsData(system, "/en.strings", "en", kStrings);
}

void AddLabelPage(pappl_printer_t* printer) {
  char path[256];
  papplPrinterGetPath(printer, "label", path, sizeof path);
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", LabelPage,
                                 printer);
  papplPrinterAddLink(printer, "Label", path,
                      PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_CONFIGURATION);
}
