// The printer's IPP settings as the conversion library names them.
//
//   kVendorOptions    the vendor attributes: IPP name, PPD keyword, values
//   AddVendorAttributes  their "-supported" and "-default" driver attributes
//   PrinterChoices    choice names by PPD keyword (what the page conversion asks)
//   ChoicesOfJob      the choices of one job: job attributes over printer defaults
//   DarknessStep, SpeedStep, MillimetresOf   IPP units to the printer's units
#pragma once

#include <cups/ipp.h>
#include <pappl/pappl.h>

#include <map>
#include <span>
#include <string>

#include "label_job.h"

// One vendor attribute: its IPP name, the PPD keyword it sets, and how its
// IPP value turns into the keyword's choice name.
struct VendorOption {
  enum class Kind { Keyword, Boolean, Range };
  const char* name;     // IPP attribute name ("<name>-default", "-supported")
  const char* keyword;  // PPD keyword
  Kind kind;
  // Keyword: IPP keywords and the choice names they stand for, in pairs.
  std::span<const char* const> keywords;
  int lower, upper;          // Range: the supported integers
  const char* defaultValue;  // IPP value (keyword, "true"/"false" or integer)
};

extern const std::span<const VendorOption> kVendorOptions;

// Adds each vendor attribute's "-supported" and "-default" values to attrs.
void AddVendorAttributes(ipp_t* attrs);

// Choice names by PPD keyword, and the head's width.
class PrinterChoices : public Choices {
 public:
  const char* Marked(const char* keyword) const override;
  double LargestWidthPoints() const override { return largestWidth_; }
  void Set(const char* keyword, std::string choice) { marked_[keyword] = std::move(choice); }
  void SetLargestWidthPoints(double points) { largestWidth_ = points; }

 private:
  std::map<std::string, std::string, std::less<>> marked_;
  double largestWidth_ = 0;
};

// The choice of one vendor option for an IPP value as text (as
// ippAttributeString writes it); empty when the value is not supported.
std::string ChoiceOfVendorValue(const VendorOption& option, const char* value);

// Printer darkness 0..100 plus a job's print-darkness -100..100, to the
// printer's 16 heat steps.
int DarknessStep(int configured, int printDarkness);
// print-speed in hundredths of millimetres per second to whole inches per
// second, within the printer's 2..6; 0 (auto) is 4.
int SpeedStep(int speed);
// Hundredths of millimetres to whole millimetres, halves away from zero.
int MillimetresOf(int hundredths);

// The choices of one job. vendor: the job's own vendor values, by IPP name
// (nullptr when the job has none); defaults: the printer's driver attributes
// ("<name>-default").
PrinterChoices ChoicesOfJob(const pappl_pr_options_t& options, const pappl_pr_driver_data_t& data,
                            ipp_t* defaults, pappl_job_t* job);
