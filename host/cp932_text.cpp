#include "cp932_text.h"

#include <windows.h>

#include <climits>

std::string Cp932FromWide(const wchar_t* wide, size_t length)
{
    if (length == 0 || length > INT_MAX)
        return std::string();
    int count = static_cast<int>(length);
    int size = WideCharToMultiByte(932, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(932, 0, wide, count, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::wstring WideFromCodePage(const std::string& bytes, unsigned codePage)
{
    if (bytes.empty() || bytes.size() > INT_MAX)
        return std::wstring();
    int count = static_cast<int>(bytes.size());
    int length = MultiByteToWideChar(codePage, 0, bytes.data(), count, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), count, &wide[0], length);
    return wide;
}
