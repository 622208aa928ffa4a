#include "WriteValue.h"

#include "JSONValues.h"
#include "NumberText.h"

std::optional<std::u16string> WriteValueText(TqvJSONobject& Request, char16_t DecimalSeparator) {
  const int Index = Request.IndexOfName(u"value");
  const TqvJSONbase* Field = Request.OldGetField(u"value");
  if (Field && Field->SelfType() == jsString) return Request.getString(Index);
  if (Field && Field->SelfType() != jsNumber) return std::nullopt;
  try {
    return FormatNumber(Request.getDouble(Index), DecimalSeparator);
  } catch (const EJSONError&) {
    return std::nullopt;
  }
}
