// The loosely typed value that the Value property of JSON values reads and writes: Null, a
// double, a Boolean or UTF-16 text, with conversions between them.
#pragma once

#include <string>
#include <variant>

class TqvVariant {
 public:
  TqvVariant() = default;  // Null
  TqvVariant(double v) : FValue(v) {}
  TqvVariant(int v) : FValue(static_cast<double>(v)) {}
  TqvVariant(bool v) : FValue(v) {}
  TqvVariant(std::u16string v) : FValue(std::move(v)) {}
  TqvVariant(const char16_t* v) : FValue(std::u16string(v)) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(FValue); }
  bool IsNumber() const { return std::holds_alternative<double>(FValue); }
  bool IsBoolean() const { return std::holds_alternative<bool>(FValue); }
  bool IsText() const { return std::holds_alternative<std::u16string>(FValue); }

  // Conversions; a value that has no such form (Null as a number, text that is no number or
  // Boolean) raises EJSONInvalidCast.
  double AsDouble() const;  // Boolean: 1 or 0; text: its number
  bool AsBoolean() const;   // number: not zero; text: "true" or "false", any letter case
  std::u16string AsText()
      const;  // Null: empty; number: as the generator writes it; Boolean: "true"/"false"

  bool operator==(const TqvVariant&) const = default;

 private:
  std::variant<std::monostate, double, bool, std::u16string> FValue;
};
