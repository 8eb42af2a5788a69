#include "bulk/ImportSource.h"
