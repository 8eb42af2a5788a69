// The system's SimpleIni is a prebuilt library: without its code compiled here, coverage and
// AddressSanitizer would stop where the INI parser begins. Same header and settings as Config.cpp.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

template class CSimpleIniTempl<char, SI_GenericNoCase<char>, SI_ConvertA<char>>;
