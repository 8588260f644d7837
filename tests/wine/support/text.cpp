#include "support/text.h"

#include <windows.h>

std::string WideToCp932(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    int size = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::string Cp932(const char* utf8)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1)
        MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], size);
    return WideToCp932(wide);
}
