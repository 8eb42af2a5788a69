#include "bulk/UserAutoRights.h"
