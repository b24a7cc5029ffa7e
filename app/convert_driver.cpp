#include "app/convert_driver.h"
