#pragma once

class QCoreApplication;

// The process speaks Bulgarian: the default locale is Bulgarian (Bulgaria) for the names of
// months and days, and Qt's own texts (calendars, file dialogs, standard buttons) come from its
// Bulgarian translations, installed on app. Dates are never formatted by the locale (kDateFormat
// in TextOps.h), and numbers carry no group separator. Returns false when Qt's translations are
// not installed: the program then runs with Qt's English texts.
bool UseBulgarianLocale(QCoreApplication& app);
