// Text for whoever started the program from a command prompt. The program has no console of its
// own (it is a window program): the text goes to the standard handles when they lead somewhere
// (redirected, or under Wine), else to the console of the parent process.
#pragma once

#include <string>

void WriteConsoleText(const std::u16string& Text, bool Error);
