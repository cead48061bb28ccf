// Code detection with the snapshot's step index, for the page conversion.
//
// Contents
//   IsAnchor, IsRDCode   as in code_detect.h, skipping flat stretches
//
// With `steps` built from the same snapshot, the results (and the log lines)
// are those of the plain functions; without it (nullptr) they scan every
// column.  The index only saves time on pages with wide flat areas.
#pragma once

class GreySteps;

int IsAnchor(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
             int nHeight, const GreySteps* steps);

int IsRDCode(const unsigned char* pPixel, const unsigned char* pOrgPixel, int x, int y, int nWidth,
             int nHeight, const GreySteps* steps);
