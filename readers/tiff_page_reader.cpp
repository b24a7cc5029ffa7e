#include "readers/tiff_page_reader.h"
