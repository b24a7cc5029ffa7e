#include "app/input_list.h"
