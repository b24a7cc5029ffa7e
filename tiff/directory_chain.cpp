#include "tiff/directory_chain.h"
