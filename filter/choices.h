// The printer's settings as the conversion and the label output read them.
//
//   Choices     the marked choice of each option by its PPD keyword
//   PpdChoices  the filter's: a PPD with its defaults and the job's options marked
#pragma once

#include <cups/ppd.h>

// The marked choice name of each printer option by its PPD keyword ("Darkness", "Dithering",
// "Threshold", "Origin", "MirrorImage", "NegativeImage", "MediaMethod", "PaperType",
// "GapsHeight", "FeedPaper", "PostAction", "CutEveryLabels", "PrintSpeed"): from the PPD in the
// filter, from the printer's settings in the printer application.
class Choices {
 public:
  virtual ~Choices() = default;
  virtual const char* Marked(const char* keyword) const = 0;  // nullptr: not set
  // The widest label the printer takes, in points (the head's width); 0: not stated.
  virtual double LargestWidthPoints() const { return 0; }
};

class PpdChoices : public Choices {
 public:
  explicit PpdChoices(ppd_file_t* ppd) : ppd_(ppd) {}
  const char* Marked(const char* keyword) const override {
    const ppd_choice_t* choice = ppd_ != nullptr ? ppdFindMarkedChoice(ppd_, keyword) : nullptr;
    return choice != nullptr ? choice->choice : nullptr;
  }
  // The custom size's largest width, which our printer descriptions set to the head's width.
  double LargestWidthPoints() const override {
    return ppd_ != nullptr && ppd_->variable_sizes ? ppd_->custom_max[0] : 0;
  }

 private:
  ppd_file_t* ppd_;
};
