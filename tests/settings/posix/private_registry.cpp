// This test program keeps its registry in a folder of its own.
#include "posix/private_registry.h"
