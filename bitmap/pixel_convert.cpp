#include "bitmap/pixel_convert.h"
