// Failures raised by the typed reads of JSON documents. Callers catch EJSONError (or
// std::exception) to treat any of them as a failed read.
#pragma once

#include <stdexcept>

class EJSONError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value of one kind was read as another (text as a number, a number as text, ...).
class EJSONInvalidCast : public EJSONError {
 public:
  EJSONInvalidCast() : EJSONError("Invalid class typecast") {}
};

// Base of the floating-point failures of numeric reads.
class EJSONFloatError : public EJSONError {
 public:
  using EJSONError::EJSONError;
};

// A number that cannot become the requested integer (outside the signed 64-bit range, or NaN).
class EJSONInvalidOp : public EJSONFloatError {
 public:
  EJSONInvalidOp() : EJSONFloatError("Invalid floating point operation") {}
};

// An extended-precision number too large for a double.
class EJSONOverflow : public EJSONFloatError {
 public:
  EJSONOverflow() : EJSONFloatError("Floating point overflow") {}
};
