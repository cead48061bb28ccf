// The printer's text command language: one line per command ended by "\r\n", numbers in
// decimal, bitmaps as raw bytes inside their command.  The one place that knows its syntax;
// another printer language would be another writer beside it.
//
//   AppendSetup   SIZE ... CLS: the label, media, finishing, speed and darkness
//   AppendBitmap  one "BITMAP x,y,w,h,1,<bytes>" command for a band
//   AppendPrint   "PRINT 1,<copies>"
#pragma once

#include <string>

#include "label/bands.h"
#include "label/label_settings.h"

void AppendSetup(std::string& out, const LabelSetup& setup);
// The band's rows go out as they are: any byte value, "\r\n" included; a reader finds the end
// of the data by width x height.
void AppendBitmap(std::string& out, const Band& band);
void AppendPrint(std::string& out, int copies);
