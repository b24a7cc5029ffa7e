#include "tiff/tiff_reader.h"
