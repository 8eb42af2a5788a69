#include "bulk/Import_u.h"
