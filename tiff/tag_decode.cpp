#include "tiff/tag_decode.h"
