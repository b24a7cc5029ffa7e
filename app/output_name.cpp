#include "app/output_name.h"
