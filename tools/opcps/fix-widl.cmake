# Corrects the proxy code widl generates (cmake -P, -DFILE=<opcps_p.c>). For an [out, string]
# LPWSTR* parameter widl writes the right type description, a reference pointer (allocated on
# the stack, dereferenced) to a unique pointer to the string, but points the parameter at the
# inner pointer instead of at the reference pointer four bytes before it. The runtime then
# unmarshals the string into its own copy of the argument, and the caller's variable stays NULL
# or "". Each such parameter is pointed at its reference pointer.
file(READ ${FILE} code)
string(REGEX MATCHALL "/\\* [0-9]+ \\(LPWSTR \\*\\) \\*/\n[ ]+0x11, 0x14," references "${code}")
set(fixed 0)
foreach(reference IN LISTS references)
  string(REGEX MATCH "[0-9]+" outer "${reference}")
  math(EXPR inner "${outer} + 4")
  math(EXPR inner_hex "${inner}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR outer_hex "${outer}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "NdrFcShort(${inner_hex}),\t/* type offset = ${inner} */"
                 "NdrFcShort(${outer_hex}),\t/* type offset = ${outer} */" code "${code}")
  math(EXPR fixed "${fixed} + 1")
endforeach()
if(fixed EQUAL 0)
  message(FATAL_ERROR "no [out] string parameter found in ${FILE}: has widl changed?")
endif()
file(WRITE ${FILE} "${code}")
