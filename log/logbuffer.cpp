// Filled in by its own change.
#include "logbuffer.h"
