// The tag identifier used on the wire: MD5 of the tag's text in US-ASCII, as lower-case hex.
#pragma once

#include <string>

// Converts Text with the platform's US-ASCII conversion (code page 20127); a character outside
// 7-bit ASCII becomes what the platform makes of it (natively a question mark).
std::string ToUsAscii(const std::u16string& Text);

// 32 lower-case hexadecimal digits of the MD5 digest of ToUsAscii(Text).
std::u16string MakeHashName(const std::u16string& Text);
