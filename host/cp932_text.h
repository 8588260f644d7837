#pragma once
// Conversions between UTF-16 and code page 932 (or another code page), done
// explicitly so that the result does not depend on the process's ANSI code page.

#include <string>

// Empty when the text is empty or cannot be converted.
std::string Cp932FromWide(const wchar_t* wide, size_t length);
inline std::string Cp932FromWide(const std::wstring& wide)
{
    return Cp932FromWide(wide.data(), wide.size());
}
std::wstring WideFromCodePage(const std::string& bytes, unsigned codePage);
inline std::wstring WideFromCp932(const std::string& bytes)
{
    return WideFromCodePage(bytes, 932);
}
