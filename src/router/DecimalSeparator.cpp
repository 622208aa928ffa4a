#include "DecimalSeparator.h"

#ifdef _WIN32
#include <windows.h>
#endif

char16_t UserDecimalSeparator() {
#ifdef _WIN32
  wchar_t Text[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, Text, 8) > 1)
    return static_cast<char16_t>(Text[0]);
#endif
  return u'.';
}
