#include "BetterGroupBox.h"
