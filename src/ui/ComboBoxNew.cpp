#include "ComboBoxNew.h"
