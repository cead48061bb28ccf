// Page intake of grey and colour pages: from the raster as read to the page
// bitmap that the label output takes (rows rounded up to 32 dots).
//
//   IntakeGreyPage    8-bit pages: working image, page dump, conversion by
//                     the "Dithering" and "Threshold" choices
//   IntakeColourPage  24-bit pages: adaptive conversion, fixed settings
//   WorkingImageStride  bytes of one 24-bit working image row
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <vector>

size_t WorkingImageStride(unsigned width);

// Writes each of the width bytes of src, xor flip, to the three bytes of one
// working image dot in dst (3 * width bytes).
void WidenRow(const unsigned char* src, size_t width, unsigned char flip, unsigned char* dst);

// Converts rows rows of an 8-bit page (Buffer, at cupsBytesPerLine) into
// pDataBuf.  White-based grey (W, SW) is taken with its polarity turned.
// Throws std::bad_alloc when a buffer cannot be had.
//  1. Once the working image holds the page, the whole memory pages inside
//     Buffer's rows are handed back to the system, so that the raster is not
//     kept resident while the page is converted: Buffer stays allocated, but
//     its rows read as 0 afterwards.
void IntakeGreyPage(ppd_file_t* ppd, const cups_page_header2_t& header, unsigned char* Buffer,
                    unsigned rows, std::vector<unsigned char>& pDataBuf);

// Converts rows rows of a 24-bit page in place in Buffer into pDataBuf.
void IntakeColourPage(const cups_page_header2_t& header, unsigned char* Buffer, unsigned rows,
                      std::vector<unsigned char>& pDataBuf);

// Where the working image of each grey page is dumped: $RASTERTOLABEL_DUMP,
// "/tmp/Buf.bmp" when unset; empty turns the dump off.
const char* PageDumpPath();
