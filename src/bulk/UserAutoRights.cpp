#include "bulk/UserAutoRights.h"

// Placeholder until the window lands.
void ShowAutoRights(TDM&, QWidget*) {}
