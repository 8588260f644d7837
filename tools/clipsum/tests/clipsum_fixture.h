#pragma once
// Runs the built clipsum program on files in a fresh directory, standard
// output and error caught, for the tests of what its users rely on.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace clipsum_test {

struct RunResult {
    int exitStatus;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A message nested one level deeper than the engine accepts.
inline std::string DeeplyNestedMessage()
{
    const int levels = 70;
    std::string message = "Subject: deep\r\nContent-Type: multipart/mixed; boundary=\"L0\"\r\n\r\n";
    for (int level = 1; level < levels; ++level)
        message += "--L" + std::to_string(level - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"L" +
                   std::to_string(level) + "\"\r\n\r\n";
    message += "--L" + std::to_string(levels - 1) + "\r\nContent-Type: text/plain\r\n\r\ndeep text\r\n\r\n";
    for (int level = levels - 1; level >= 0; --level)
        message += "--L" + std::to_string(level) + "--\r\n";
    return message;
}

class ClipsumTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "clipsum-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Put(const std::string& name, const std::string& bytes)
    {
        fs::path path = dir_ / name;
        WriteFile(path, bytes);
        return path;
    }

    std::vector<std::string> Listing(const fs::path& directory) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Starts clipsum with the arguments, standard output and error caught in files.
    pid_t Start(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv{CLIPSUM_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);

        pid_t child = fork();
        if (child == 0) {
            int outFd = open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int errFd = open(ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
                _exit(127);
            // A run that blocks (on a named pipe, say) is killed and fails its test instead of hanging it.
            alarm(60);
            execv(pointers[0], pointers.data());
            _exit(127);
        }
        return child;
    }

    RunResult Finish(pid_t child)
    {
        fs::path outPath = OutPath();
        fs::path errPath = ErrPath();
        int status = 0;
        waitpid(child, &status, 0);
        RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outPath), ReadFile(errPath)};
        fs::remove(outPath);
        fs::remove(errPath);
        return result;
    }

    RunResult Run(const std::vector<std::string>& arguments) { return Finish(Start(arguments)); }

    fs::path OutPath() const { return dir_ / "..clipsum-stdout"; }
    fs::path ErrPath() const { return dir_ / "..clipsum-stderr"; }

    fs::path dir_;
};

} // namespace clipsum_test
