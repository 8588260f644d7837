#pragma once
// Texts as the plug-in stores and shows them: code page 932 bytes.

#include <string>

// UTF-8 (as written in the tests' sources) to code page 932.
std::string Cp932(const char* utf8);
