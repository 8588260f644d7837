#pragma once
// Replaces a function a loaded module imports, in that module's import
// address table only: the test program and the system keep the real one.
// Used to give the plug-in a disk that fills up.

#include <windows.h>

// Every entry of module's import table that holds the address of
// system function `name` of `library` is set to replacement. Returns the real
// function, or null when the module imports no such function.
FARPROC ReplaceImport(HMODULE module, const char* library, const char* name, FARPROC replacement);
