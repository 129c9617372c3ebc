// Filled in by its own change.
#include "cfb/cfb.hpp"
