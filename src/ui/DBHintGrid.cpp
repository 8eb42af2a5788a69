#include "DBHintGrid.h"
