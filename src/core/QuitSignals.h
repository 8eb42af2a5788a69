#pragma once

class QCoreApplication;

// SIGTERM and SIGINT (Ctrl+C) end the program as closing its main window would, and everything
// is torn down in order: the data module disconnects normally. The signals are blocked in every
// thread before the first one starts and read from a descriptor by the event loop; the Firebird
// client, whose own handler would shut its engine down under the open connections, never sees
// them.

// Blocks the signals in the calling thread (and so in every thread it starts later) and returns
// a descriptor that reads them, or -1.
int TakeQuitSignals();
// Each signal read from fd asks app to quit; a window that holds work it would otherwise refuse
// to leave asks QuitRequested() and gives that work up instead.
void QuitOnSignals(QCoreApplication& app, int fd);
// True once a quit signal arrived.
bool QuitRequested();
