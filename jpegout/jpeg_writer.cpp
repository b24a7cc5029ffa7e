#include "jpegout/jpeg_writer.h"
