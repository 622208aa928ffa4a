#pragma once

// The decimal separator of the user's regional settings (Windows); a point elsewhere.
char16_t UserDecimalSeparator();
