#pragma once
// The built plug-in and fresh folders to load copies of it from.

#include <windows.h>

#include <string>

// Folder of the running test program, ending in a backslash.
std::string ExeDirectory();
// TlClipsum.dll as built, beside the test program.
std::string BuiltPluginPath();

// A new empty folder under the temporary directory, removed with all it holds.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Path of the folder, without a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// A copy of the built plug-in loaded from `folder` under `fileName`, so that
// it is a fresh instance with its INI file in that folder. Unloaded at the end.
class LoadedPluginCopy {
public:
    LoadedPluginCopy(const std::string& folder, const std::string& fileName = "TlClipsum.dll");
    ~LoadedPluginCopy();
    LoadedPluginCopy(const LoadedPluginCopy&) = delete;
    LoadedPluginCopy& operator=(const LoadedPluginCopy&) = delete;

    HMODULE Module() const { return module_; }
    const std::string& Path() const { return path_; }
    template <typename Fn>
    Fn Export(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

private:
    std::string path_;
    HMODULE module_;
};
