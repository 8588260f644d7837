#pragma once
// Subjects for the stand-in host's message list: MIME encoded words
// (ISO-2022-JP, Shift_JIS, UTF-8, Latin-1) decoded, raw bytes read as code
// page 932. Display only: the plug-in always gets the stored bytes.

#include <string>

std::wstring SubjectForDisplay(const std::string& raw);
