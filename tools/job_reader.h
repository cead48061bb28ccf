// Reading a label job, the printer command stream the filter writes, and
// holding nothing back: every byte must belong to a known command.
//
//   ParseLabelJob  the stream into pages, up to the first fault
//   Bitmap         one BITMAP command with its data
//   LabelPage      one page: setup lines, bitmaps, print command
//
// One page is, each line ended by "\r\n":
//   SIZE <n> mm, <n> mm            always first
//   setup lines                    any of the known ones, in any order
//   CLS                            ends the setup
//   BITMAP x,y,w,h,1,<w*h bytes>   zero or more; the data are raw bytes
//   PRINT 1,<copies>               ends the page
// Pages follow one another with nothing between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct Bitmap {
  size_t offset = 0;          // of the "BITMAP" text in the stream
  unsigned x = 0;             // dots, a multiple of 8
  unsigned y = 0;             // rows
  unsigned width = 0;         // bytes
  unsigned height = 0;        // rows
  std::vector<uint8_t> data;  // rows top first, MSB leftmost, a 0 bit is ink

  size_t InkDots() const;
};

struct LabelPage {
  std::vector<std::string> setup;  // SIZE to CLS, verbatim, without "\r\n"
  unsigned width_mm = 0;           // from SIZE
  unsigned height_mm = 0;
  std::vector<Bitmap> bitmaps;
  std::string print;  // the PRINT line, verbatim
};

struct JobFault {
  size_t offset = 0;  // byte offset in the stream where the fault lies
  std::string message;
};

struct LabelJob {
  std::vector<LabelPage> pages;  // the complete pages before any fault
  std::optional<JobFault> fault;
};

// Notes:
//  1. An empty stream is a fault: a job has at least one page.
//  2. Numbers are written as the filter writes them: no sign, no leading
//     zero; the PPD-given values (gap, offset, speed, density) may carry a
//     minus sign and a decimal fraction.
LabelJob ParseLabelJob(std::span<const uint8_t> stream);
