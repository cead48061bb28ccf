// The band scan: where a label's picture holds ink.
//
//   Band       one horizontal band of rows that holds ink
//   FindBands  the bands of a picture, top to bottom
#pragma once

#include <cstddef>
#include <vector>

struct Band {
  std::size_t left;           // leftmost inked byte column (the band's x is 8 dots a column)
  std::size_t top;            // first row on the label: its row in the picture minus the rows cut
  std::size_t width;          // inked byte columns, leftmost to rightmost
  std::size_t height;         // rows
  const unsigned char* data;  // the band's first byte in the picture (its top row, left column)
  std::size_t stride;         // bytes from one picture row to the next
};

// The bands of a picture of nImageHeight rows at a stride of nImageWidth bytes (0 = ink, 1 = no
// ink, most significant bit leftmost).  Whole rows are scanned, padding bytes included.
//  1. A band is a run of rows that each hold ink, as wide as the outermost inked bytes of all
//     its rows; blank rows end it and are never sent.
//  2. When the first inked row lies below row 80, every band moves up so that the first starts
//     at row 80; the gaps between bands are kept.
std::vector<Band> FindBands(const unsigned char* pBuf, std::size_t nImageWidth,
                            std::size_t nImageHeight);
