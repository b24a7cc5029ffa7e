#include "readers/convert_engine.h"
