#include "bitmap/bitmap_storage.h"
