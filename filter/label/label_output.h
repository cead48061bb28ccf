// Label command output: one page's complete label job, written at once.
//
//   ProcessData           settings, orientation, setup, bitmaps, print command
//   AppendBitmapCommands  the band scan: one BITMAP command per inked band
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <string>

// Composes the label job of one page from its page bitmap (biWidth dots,
// biHeight rows; stride cupsBytesPerLine for 1-bit pages, else rows rounded
// up to 32 dots) and writes it to standard output in one piece.
//  1. A negative is made in place in pDataBuf when no turn or mirror ran.
//  2. Throws std::bad_alloc when a buffer cannot be had (nothing is written);
//     returns false when standard output did not take the page, or when
//     the mirror could not be made (the page then goes out unmirrored).
bool ProcessData(ppd_file_t* ppd, cups_page_header2_t* header, unsigned char* pDataBuf, int biWidth,
                 int biHeight);

// Appends one "BITMAP x,y,w,h,1,<data>\r\n" command for each horizontal band
// of rows that holds ink.  The picture is nImageHeight rows at a stride of
// nImageWidth bytes; whole rows are scanned, padding bytes included.
//  1. When the first inked row lies below row 80, every band moves up so the
//     first starts at row 80; the gaps between bands are kept.
void AppendBitmapCommands(std::string& pData, const unsigned char* pBuf, size_t nImageWidth,
                          size_t nImageHeight);
