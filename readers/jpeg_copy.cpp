#include "readers/jpeg_copy.h"
