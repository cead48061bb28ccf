// rastertolabel: CUPS filter from raster pages to label printer jobs.
#include "driver/filter.h"

int main(int argc, char* argv[]) { return RunFilter(argc, argv); }
