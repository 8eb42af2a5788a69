#include "ListBoxFilterEngine.h"
