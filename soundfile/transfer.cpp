// Filled in by its own change.
#include "soundfile.h"
