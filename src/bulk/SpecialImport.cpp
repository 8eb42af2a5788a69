#include "bulk/SpecialImport.h"
