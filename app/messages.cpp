#include "app/messages.h"
