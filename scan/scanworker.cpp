// Filled in by its own change.
#include "scanworker.h"
