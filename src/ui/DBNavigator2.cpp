#include "DBNavigator2.h"
