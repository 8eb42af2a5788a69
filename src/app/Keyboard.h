#pragma once

class QApplication;

// Keys as the suite's other programs have them, in every window of the program: Enter on a
// focused push button presses it (Qt does so only for buttons of a dialog). Install once,
// after the application object exists.
void InstallKeyboardConventions(QApplication& app);
