#include "support/text.h"

#include <windows.h>

#include "cp932_text.h"

std::string Cp932(const char* utf8)
{
    return Cp932FromWide(WideFromCodePage(utf8, CP_UTF8));
}
