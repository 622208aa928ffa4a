// The value text of a "setValue" request.
#pragma once

#include <optional>
#include <string>

class TqvJSONobject;

// "value" of Request as text: a number (absent reads as 0) in the general format with at most 15
// significant digits and DecimalSeparator, a string as it is. Nothing when the value is of another
// kind or a number beyond the range of a double.
std::optional<std::u16string> WriteValueText(TqvJSONobject& Request, char16_t DecimalSeparator);
