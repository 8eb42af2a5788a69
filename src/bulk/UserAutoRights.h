#pragma once

class QWidget;
class TDM;

// Loads the users and the applications and shows the automatic rights window modally.
void ShowAutoRights(TDM& dm, QWidget* parent);
