// Runs the built clipsum program on files in a fresh directory and checks
// what its users rely on: the files it leaves, its output and its exit status.

#include "sample_messages.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
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

namespace {

struct RunResult {
    int exitStatus;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A message nested one level deeper than the engine accepts.
std::string DeeplyNestedMessage()
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

    // Runs clipsum with the arguments, standard output and error caught in files.
    RunResult Run(const std::vector<std::string>& arguments)
    {
        fs::path outPath = dir_ / "..clipsum-stdout";
        fs::path errPath = dir_ / "..clipsum-stderr";
        std::vector<std::string> argv{CLIPSUM_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);

        pid_t child = fork();
        if (child == 0) {
            int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0)
                _exit(127);
            execv(pointers[0], pointers.data());
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outPath), ReadFile(errPath)};
        fs::remove(outPath);
        fs::remove(errPath);
        return result;
    }

    fs::path dir_;
};

TEST_F(ClipsumTest, UsageErrorsExitWithTwoAndTouchNothing)
{
    fs::path file = Put("m.eml", kMultipartMessage);
    fs::path other = Put("n.eml", kMultipartMessage);
    std::vector<std::vector<std::string>> misuses{
        {},
        {"frobnicate", file},
        {"strip", file},
        {"strip", "--in-place"},
        {"strip", "--in-place", "--bogus", file},
        {"strip", "--stdout", file, other},
        {"strip", "--stdout", "--in-place", file},
        {"strip", "--in-place", file, "--backup-dir"},
        {"strip", "--dry-run", "--backup-dir", dir_, file},
    };
    for (const auto& misuse : misuses) {
        std::string shown;
        for (const auto& argument : misuse)
            shown += argument + " ";
        SCOPED_TRACE(shown);
        RunResult result = Run(misuse);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("clipsum --help"), std::string::npos);
        EXPECT_EQ(ReadFile(file), kMultipartMessage);
        EXPECT_EQ(ReadFile(other), kMultipartMessage);
    }
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"m.eml", "n.eml"}));
}

TEST_F(ClipsumTest, HelpDocumentsEveryOption)
{
    RunResult result = Run({"strip", "--help"});
    EXPECT_EQ(result.exitStatus, 0);
    for (const char* option :
         {"--in-place", "--stdout", "--dry-run", "--backup-dir", "--keep-html", "--help", "Exit status"})
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    EXPECT_EQ(Run({"--help"}).out, result.out);
}

TEST_F(ClipsumTest, StdoutCarriesOnlyTheMessageAsItWouldBeStored)
{
    fs::path multipart = Put("m.eml", kMultipartMessage);
    RunResult stripped = Run({"strip", "--stdout", multipart});
    EXPECT_EQ(stripped.exitStatus, 0);
    EXPECT_EQ(stripped.out, kStrippedMessage);
    EXPECT_NE(stripped.err.find("m.eml: stripped"), std::string::npos) << stripped.err;
    EXPECT_EQ(ReadFile(multipart), kMultipartMessage);

    fs::path single = Put("s.eml", kSinglePartMessage);
    RunResult leftAlone = Run({"strip", "--stdout", single});
    EXPECT_EQ(leftAlone.exitStatus, 0);
    EXPECT_EQ(leftAlone.out, kSinglePartMessage);
    EXPECT_NE(leftAlone.err.find("s.eml: left alone, not a multipart message"), std::string::npos) << leftAlone.err;
}

TEST_F(ClipsumTest, InPlaceReplacesStrippedFilesAndLeavesNoTemporaryFile)
{
    fs::path multipart = Put("m.eml", kMultipartMessage);
    fs::path single = Put("s.eml", kSinglePartMessage);
    ASSERT_EQ(chmod(multipart.c_str(), 0640), 0);

    RunResult result = Run({"strip", "--in-place", multipart, single});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(ReadFile(multipart), kStrippedMessage);
    EXPECT_EQ(ReadFile(single), kSinglePartMessage);
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"m.eml", "s.eml"}));
    struct stat info {};
    ASSERT_EQ(stat(multipart.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    std::string before = std::to_string(sizeof kMultipartMessage - 1 + sizeof kSinglePartMessage - 1);
    std::string after = std::to_string(sizeof kStrippedMessage - 1 + sizeof kSinglePartMessage - 1);
    EXPECT_NE(result.out.find("m.eml: stripped, " + std::to_string(sizeof kMultipartMessage - 1) + " -> " +
                              std::to_string(sizeof kStrippedMessage - 1) + " bytes"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("s.eml: left alone, not a multipart message"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 stripped, 1 left alone, 0 failed; " + before + " -> " + after + " bytes"),
              std::string::npos)
        << result.out;
}

TEST_F(ClipsumTest, InPlaceThroughASymbolicLinkChangesTheFileAndKeepsTheLink)
{
    fs::create_directory(dir_ / "store");
    fs::path target = dir_ / "store" / "m.eml";
    WriteFile(target, kMultipartMessage);
    fs::path link = dir_ / "link.eml";
    fs::create_symlink(target, link);

    RunResult result = Run({"strip", "--in-place", link});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), kStrippedMessage);
    EXPECT_EQ(Listing(dir_ / "store"), std::vector<std::string>{"m.eml"});
}

TEST_F(ClipsumTest, BackupDirGetsTheOriginalWithItsModeAndNeverOverwritesACopy)
{
    fs::path backups = dir_ / "backups";
    fs::create_directory(backups);
    WriteFile(backups / "m.eml", "an earlier copy");
    fs::path multipart = Put("m.eml", kMultipartMessage);
    fs::path single = Put("s.eml", kSinglePartMessage);
    ASSERT_EQ(chmod(multipart.c_str(), 0604), 0);

    RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, multipart, single});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadFile(multipart), kStrippedMessage);
    EXPECT_EQ(ReadFile(backups / "m.eml"), "an earlier copy");
    EXPECT_EQ(ReadFile(backups / "m.eml.1"), kMultipartMessage);
    struct stat info {};
    ASSERT_EQ(stat((backups / "m.eml.1").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(Listing(backups), (std::vector<std::string>{"m.eml", "m.eml.1"}));
    EXPECT_NE(result.out.find("m.eml.1"), std::string::npos) << result.out;
}

TEST_F(ClipsumTest, FailedBackupLeavesTheFileUntouched)
{
    fs::path multipart = Put("m.eml", kMultipartMessage);
    fs::path notADirectory = Put("plain-file", "x");
    for (const fs::path& backups : {dir_ / "missing", notADirectory}) {
        SCOPED_TRACE(backups);
        RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, multipart});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(ReadFile(multipart), kMultipartMessage);
        EXPECT_NE(result.err.find("m.eml: cannot create the backup copy"), std::string::npos) << result.err;
        EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"m.eml", "plain-file"}));
    }
}

TEST_F(ClipsumTest, FileWithANulByteIsRefusedNotTruncated)
{
    std::string message = kMultipartMessage;
    std::size_t nulOffset = message.find("QUJD");
    message[nulOffset] = '\0';
    fs::path file = Put("nul.eml", message);

    RunResult inPlace = Run({"strip", "--in-place", file});
    EXPECT_EQ(inPlace.exitStatus, 1);
    EXPECT_NE(inPlace.err.find("nul.eml: holds a NUL byte at offset " + std::to_string(nulOffset)), std::string::npos)
        << inPlace.err;
    EXPECT_EQ(ReadFile(file), message);

    RunResult toStdout = Run({"strip", "--stdout", file});
    EXPECT_EQ(toStdout.exitStatus, 1);
    EXPECT_EQ(toStdout.out, "");
}

TEST_F(ClipsumTest, UnusableFilesGetAnErrorAndTheOthersAreStillHandled)
{
    fs::path missing = dir_ / "missing.eml";
    fs::path directory = dir_ / "folder";
    fs::create_directory(directory);
    fs::path empty = Put("empty.eml", "");
    fs::path good = Put("good.eml", kMultipartMessage);

    RunResult result = Run({"strip", "--in-place", missing, directory, empty, good});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(ReadFile(good), kStrippedMessage);
    EXPECT_EQ(ReadFile(empty), "");
    for (const fs::path& bad : {missing, directory, empty}) {
        std::string line = "clipsum: " + bad.string() + ": ";
        EXPECT_NE(result.err.find(line), std::string::npos) << line << "\n" << result.err;
    }
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 3) << result.err;
    EXPECT_NE(result.out.find("1 stripped, 0 left alone, 3 failed"), std::string::npos) << result.out;
}

TEST_F(ClipsumTest, DryRunReportsTheChangeAndWritesNothing)
{
    fs::path file = Put("m.eml", kMultipartMessage);
    RunResult result = Run({"strip", "--dry-run", file});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(ReadFile(file), kMultipartMessage);
    EXPECT_EQ(Listing(dir_), std::vector<std::string>{"m.eml"});
    EXPECT_NE(result.out.find("m.eml: would be stripped, " + std::to_string(sizeof kMultipartMessage - 1) + " -> " +
                              std::to_string(sizeof kStrippedMessage - 1) + " bytes"),
              std::string::npos)
        << result.out;
}

TEST_F(ClipsumTest, KeepHtmlLeavesAloneOnlyTheExactHeaderText)
{
    std::string withHtml = std::string("X-Original-Content-Type: text/html; charset=UTF-8\r\n") + kMultipartMessage;
    std::string lowerCase = std::string("X-Original-content-type: text/html\r\n") + kMultipartMessage;
    fs::path html = Put("html.eml", withHtml);
    fs::path lower = Put("lower.eml", lowerCase);

    RunResult kept = Run({"strip", "--in-place", "--keep-html", html, lower});
    EXPECT_EQ(kept.exitStatus, 0);
    EXPECT_EQ(ReadFile(html), withHtml);
    EXPECT_NE(kept.out.find("html.eml: left alone, HTML message"), std::string::npos) << kept.out;
    EXPECT_NE(ReadFile(lower), lowerCase);

    RunResult stripped = Run({"strip", "--in-place", html});
    EXPECT_EQ(stripped.exitStatus, 0);
    EXPECT_NE(ReadFile(html), withHtml);
}

TEST_F(ClipsumTest, TooDeeplyNestedMessageIsLeftAloneWithItsReason)
{
    std::string message = DeeplyNestedMessage();
    fs::path file = Put("deep.eml", message);
    RunResult result = Run({"strip", "--in-place", file});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(ReadFile(file), message);
    EXPECT_NE(result.out.find("deep.eml: left alone, nested more than 64 levels deep"), std::string::npos)
        << result.out;
}

} // namespace
