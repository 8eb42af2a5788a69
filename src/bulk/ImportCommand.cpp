#include "bulk/ImportCommand.h"
