#include "bulk/Importer.h"
