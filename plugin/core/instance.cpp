#include "plugin/core/instance.h"

HINSTANCE g_pluginInstance = nullptr;
