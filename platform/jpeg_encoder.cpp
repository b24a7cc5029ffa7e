#include "platform/jpeg_encoder.h"
