// Runs the built clipsum program on files in a fresh directory and checks
// what its users rely on: the files it leaves, its output and its exit status.

#include "clipsum_fixture.h"
#include "sample_messages.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

using namespace clipsum_test;

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
        {"strip", "--in-place", "-j", "0", file},
        {"strip", "--in-place", "--jobs=65", file},
        {"strip", "--in-place", "-jx", file},
        {"strip", "--in-place", file, "-j"},
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
         {"--in-place", "--stdout", "--dry-run", "--backup-dir", "--keep-html", "--force", "--jobs", "--help", "read-only",
          "--note", "--save-dir",
          "mbox", "named pipe", "Exit status"})
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
    EXPECT_EQ(Listing(backups), (std::vector<std::string>{"clipsum-backups.log", "m.eml", "m.eml.1"}));
    EXPECT_NE(result.out.find("m.eml.1"), std::string::npos) << result.out;
}

TEST_F(ClipsumTest, FailedBackupLeavesTheFileUntouched)
{
    fs::path backups = dir_ / "backups";
    fs::create_directory(backups);
    WriteFile(backups / "m.eml", "copy");
    for (int suffix = 1; suffix <= 999; ++suffix)
        WriteFile(backups / ("m.eml." + std::to_string(suffix)), "copy");
    fs::path multipart = Put("m.eml", kMultipartMessage);

    RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, multipart});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(ReadFile(multipart), kMultipartMessage);
    EXPECT_NE(result.err.find("m.eml: cannot name the backup copy: 1000 copies of this name exist"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(Listing(backups).size(), 1000u);
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"backups", "m.eml"}));
}

// /proc takes no new file, not even from root, whom permission bits do not stop.
TEST_F(ClipsumTest, UnusableBackupDirIsReportedOnceAndNothingIsTouched)
{
    fs::path first = Put("m.eml", kMultipartMessage);
    fs::path second = Put("n.eml", kMultipartMessage);
    fs::path notADirectory = Put("plain-file", "x");
    const std::vector<std::pair<fs::path, std::string>> cases{
        {dir_ / "missing", "cannot use it: No such file or directory"},
        {notADirectory, "not a directory"},
        {"/proc", "cannot create a file in it: "},
    };
    for (const auto& [backups, reason] : cases) {
        SCOPED_TRACE(backups);
        RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, first, second});
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.find("clipsum: --backup-dir " + backups.string() + ": " + reason), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
        EXPECT_EQ(ReadFile(first), kMultipartMessage);
        EXPECT_EQ(ReadFile(second), kMultipartMessage);
        EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"m.eml", "n.eml", "plain-file"}));
    }
}

// Replacing the file keeps what it was: only its contents change.
TEST_F(ClipsumTest, InPlaceKeepsModeAndTimesAndSwapsTheFileWhole)
{
    fs::path file = Put("m.eml", kMultipartMessage);
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    const struct timespec oldTimes[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), oldTimes, 0), 0);
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    RunResult result = Run({"strip", "--in-place", file});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0); // before the file is read, which would change its access time
    EXPECT_EQ(ReadFile(file), kStrippedMessage);
    EXPECT_NE(after.st_ino, before.st_ino) << "the file was rewritten where it stood, not replaced in one step";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_mtim.tv_sec, oldTimes[1].tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, oldTimes[1].tv_nsec);
    EXPECT_EQ(after.st_atim.tv_sec, oldTimes[0].tv_sec);
    EXPECT_EQ(after.st_atim.tv_nsec, oldTimes[0].tv_nsec);
}

TEST_F(ClipsumTest, InPlaceRunAsRootGivesTheFileBackToItsOwner)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    fs::path backups = dir_ / "backups";
    fs::create_directory(backups);
    fs::path file = Put("m.eml", kMultipartMessage);
    ASSERT_EQ(chown(file.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);

    RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, file});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadFile(file), kStrippedMessage);
    for (const fs::path& path : {file, backups / "m.eml"}) {
        SCOPED_TRACE(path);
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 1234u);
        EXPECT_EQ(info.st_gid, 5678u);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
    }
}

TEST_F(ClipsumTest, InPlaceKeepsExtendedAttributes)
{
    fs::path backups = dir_ / "backups";
    fs::create_directory(backups);
    fs::path file = Put("m.eml", kMultipartMessage);
    const std::string tag = "Inbox/\xe9\x87\x8d\xe8\xa6\x81";
    if (setxattr(file.c_str(), "user.mail.folder", tag.data(), tag.size(), 0) != 0)
        GTEST_SKIP() << "this file system takes no user extended attributes";
    ASSERT_EQ(setxattr(file.c_str(), "user.mail.flags", "", 0, 0), 0);

    RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, file});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadFile(file), kStrippedMessage);
    for (const fs::path& path : {file, backups / "m.eml"}) {
        SCOPED_TRACE(path);
        char value[64] = {};
        ssize_t length = getxattr(path.c_str(), "user.mail.folder", value, sizeof value);
        EXPECT_EQ(std::string(value, length < 0 ? 0 : static_cast<std::size_t>(length)), tag);
        EXPECT_EQ(getxattr(path.c_str(), "user.mail.flags", value, sizeof value), 0);
    }
}

// Root may write anything: what counts is the permission the owner gave the file.
TEST_F(ClipsumTest, ReadOnlyFileIsLeftAloneUnlessForced)
{
    fs::path file = Put("m.eml", kMultipartMessage);
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    const std::string reason = "m.eml: left alone, read-only file (--force to strip it); subject \"report\"\n";

    for (const char* mode : {"--in-place", "--dry-run"}) {
        SCOPED_TRACE(mode);
        RunResult result = Run({"strip", mode, file});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_NE(result.out.find(reason), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(", 1 left alone, 0 failed"), std::string::npos) << result.out;
        EXPECT_EQ(ReadFile(file), kMultipartMessage);
    }

    RunResult toStdout = Run({"strip", "--stdout", file});
    EXPECT_EQ(toStdout.out, kStrippedMessage);

    RunResult forced = Run({"strip", "--in-place", "--force", file});
    EXPECT_EQ(forced.exitStatus, 0) << forced.err;
    EXPECT_EQ(ReadFile(file), kStrippedMessage);
    EXPECT_NE(forced.out.find("m.eml: stripped"), std::string::npos) << forced.out;
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
}

TEST_F(ClipsumTest, MessageSavedWithItsEnvelopeLineKeepsIt)
{
    const std::string envelope = "From sender@example.com Mon Jan  8 09:12:01 2024\r\n";
    fs::path single = Put("single.eml", envelope + kMultipartMessage);
    RunResult result = Run({"strip", "--in-place", single});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(ReadFile(single), envelope + kStrippedMessage);
}

TEST_F(ClipsumTest, NamedPipesAndDevicesAreRefusedWithoutBlockingOrBeingReplaced)
{
    fs::path pipe = dir_ / "pipe.eml";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    fs::path good = Put("good.eml", kMultipartMessage);

    RunResult result = Run({"strip", "--in-place", pipe, "/dev/null", good});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("clipsum: " + pipe.string() + ": not a regular file (named pipe)\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("clipsum: /dev/null: not a regular file (device)\n"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("1 stripped, 0 left alone, 2 failed"), std::string::npos) << result.out;
    EXPECT_EQ(ReadFile(good), kStrippedMessage);
    struct stat info {};
    ASSERT_EQ(lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(lstat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    RunResult toStdout = Run({"strip", "--stdout", pipe});
    EXPECT_EQ(toStdout.exitStatus, 1);
    EXPECT_EQ(toStdout.out, "");
}

// A file named like ours whose process is gone was left by a run that was killed.
TEST_F(ClipsumTest, TemporaryFilesOfKilledRunsAreRemoved)
{
    pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string stale = ".clipsum-tmp-" + std::to_string(gone) + "-a1B2c3";
    const std::string running = ".clipsum-tmp-" + std::to_string(getpid()) + "-a1B2c3";
    const std::string notOurs = ".clipsum-tmp-notes";

    fs::path backups = dir_ / "backups";
    fs::create_directory(backups);
    fs::path file = Put("m.eml", kMultipartMessage);
    for (const fs::path& directory : {dir_, backups}) {
        WriteFile(directory / stale, "half a message");
        WriteFile(directory / running, "half a message");
        WriteFile(directory / notOurs, "notes");
    }

    RunResult result = Run({"strip", "--in-place", "--backup-dir", backups, file});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadFile(file), kStrippedMessage);
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{running, notOurs, "backups", "m.eml"}));
    EXPECT_EQ(Listing(backups), (std::vector<std::string>{running, notOurs, "clipsum-backups.log", "m.eml"}));
}

// The copy of a large message takes long enough to be caught in the middle:
// whatever is open in the backup directory then must not be visible there.
TEST_F(ClipsumTest, BackupCopyKilledHalfWayLeavesNothingUnderItsName)
{
    std::string message = "From: sender@example.com\r\nSubject: large\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                          "--b1\r\nContent-Type: text/plain\r\n\r\nSee the archive.\r\n"
                          "--b1\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n";
    const std::string line(76, 'Q');
    message.reserve(message.size() + (std::size_t{96} << 20));
    while (message.size() < (std::size_t{96} << 20))
        message += line + "\r\n";
    message += "--b1--\r\n";
    fs::path backups = dir_ / "backups";
    fs::create_directory(backups);
    fs::path file = Put("large.eml", message);

    pid_t child = Start({"strip", "--in-place", "--backup-dir", backups, file});
    const std::string prefix = backups.string() + "/";
    fs::path descriptors = fs::path("/proc") / std::to_string(child) / "fd";
    bool caught = false;
    for (int attempt = 0; !caught && attempt < 20000; ++attempt) {
        std::error_code error;
        for (fs::directory_iterator entry(descriptors, error), end; !error && entry != end; entry.increment(error)) {
            std::string target = fs::read_symlink(entry->path(), error).string();
            if (!error && target.compare(0, prefix.size(), prefix) == 0)
                caught = true;
        }
        int status = 0;
        if (!caught && waitpid(child, &status, WNOHANG) == child)
            break;
        if (!caught)
            usleep(500);
    }
    if (caught)
        kill(child, SIGKILL);
    RunResult result = Finish(child);
    if (!caught)
        GTEST_SKIP() << "the copy was done before it could be interrupted";
    EXPECT_EQ(result.exitStatus, -1);
    EXPECT_EQ(Listing(backups), std::vector<std::string>{});
    EXPECT_EQ(fs::file_size(file), message.size());
}

// The engine reads a file in pieces and stops at the message's close
// delimiter; what clipsum knows of the whole file still covers every byte.
// The engine stops reading at the message's close delimiter; what follows is
// still read, so that a NUL byte there is found wherever the reads cut.
TEST_F(ClipsumTest, ANulByteAfterTheCloseDelimiterIsStillFound)
{
    std::string message = std::string(kMultipartMessage) + std::string(600000, 'e');
    message[message.size() - 10] = '\0';
    fs::path file = Put("nul-after.eml", message);
    RunResult result = Run({"strip", "--in-place", file});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("holds a NUL byte at offset " + std::to_string(message.size() - 10)), std::string::npos)
        << result.err;
    EXPECT_EQ(ReadFile(file), message);
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
    fs::path empty = Put("empty.eml", "");
    fs::path good = Put("good.eml", kMultipartMessage);

    RunResult result = Run({"strip", "--in-place", missing, empty, good});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(ReadFile(good), kStrippedMessage);
    EXPECT_EQ(ReadFile(empty), "");
    for (const fs::path& bad : {missing, empty}) {
        std::string line = "clipsum: " + bad.string() + ": ";
        EXPECT_NE(result.err.find(line), std::string::npos) << line << "\n" << result.err;
    }
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    EXPECT_NE(result.out.find("1 stripped, 0 left alone, 2 failed"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("failed: 1 cannot open, 1 empty file, not a message\n"), std::string::npos)
        << result.out;
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

// A text body beside an HTML alternative, inline images or a report's status
// is the whole message to its reader: none of it is an attachment.
const char kAlternativeOnly[] = "From: news@example.com\r\n"
                                "Subject: newsletter\r\n"
                                "MIME-Version: 1.0\r\n"
                                "Content-Type: multipart/alternative; boundary=\"alt\"\r\n"
                                "\r\n"
                                "--alt\r\n"
                                "Content-Type: text/plain; charset=us-ascii\r\n"
                                "\r\n"
                                "News\r\n"
                                "--alt\r\n"
                                "Content-Type: text/html; charset=us-ascii\r\n"
                                "\r\n"
                                "<p>News</p>\r\n"
                                "--alt--\r\n";

const char kDeliveryReport[] = "From: MAILER-DAEMON@example.com\r\n"
                               "Subject: Delivery Status Notification\r\n"
                               "MIME-Version: 1.0\r\n"
                               "Content-Type: multipart/report; report-type=delivery-status; boundary=\"r\"\r\n"
                               "\r\n"
                               "--r\r\n"
                               "Content-Type: text/plain\r\n"
                               "\r\n"
                               "Your message could not be delivered.\r\n"
                               "--r\r\n"
                               "Content-Type: message/delivery-status\r\n"
                               "\r\n"
                               "Reporting-MTA: dns; mx.example.com\r\n"
                               "\r\n"
                               "Final-Recipient: rfc822; nobody@example.org\r\n"
                               "Action: failed\r\n"
                               "--r--\r\n";

const char kEncrypted[] = "From: a@example.org\r\n"
                          "Subject: secret\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=e\r\n"
                          "\r\n"
                          "--e\r\n"
                          "Content-Type: application/pgp-encrypted\r\n"
                          "\r\n"
                          "Version: 1\r\n"
                          "--e\r\n"
                          "Content-Type: application/octet-stream\r\n"
                          "\r\n"
                          "-----BEGIN PGP MESSAGE-----\r\n"
                          "--e--\r\n";

TEST_F(ClipsumTest, OnlyMessagesWithAnAttachmentAreStrippedUnlessAllIsGiven)
{
    fs::path alternative = Put("alternative.eml", kAlternativeOnly);
    fs::path report = Put("report.eml", kDeliveryReport);
    fs::path attached = Put("attached.eml", kMultipartMessage);

    RunResult byDefault = Run({"strip", "--in-place", alternative, report, attached});
    EXPECT_EQ(byDefault.exitStatus, 0);
    EXPECT_EQ(ReadFile(alternative), kAlternativeOnly);
    EXPECT_EQ(ReadFile(report), kDeliveryReport);
    EXPECT_EQ(ReadFile(attached), kStrippedMessage);
    EXPECT_NE(byDefault.out.find("alternative.eml: left alone, no attachments"), std::string::npos) << byDefault.out;
    EXPECT_NE(byDefault.out.find("report.eml: left alone, no attachments"), std::string::npos) << byDefault.out;

    RunResult all = Run({"strip", "--in-place", "--all", alternative, report});
    EXPECT_EQ(all.exitStatus, 0);
    EXPECT_EQ(ReadFile(alternative), "From: news@example.com\r\nSubject: newsletter\r\nMIME-Version: 1.0\r\n"
                                     "Content-Type: text/plain; charset=us-ascii\r\n\r\nNews\r\n");
    EXPECT_NE(ReadFile(report), kDeliveryReport);
}

TEST_F(ClipsumTest, EncryptedMessageIsLeftAloneWithItsReason)
{
    fs::path file = Put("secret.eml", kEncrypted);
    RunResult result = Run({"strip", "--in-place", "--all", file});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(ReadFile(file), kEncrypted);
    EXPECT_NE(result.out.find("secret.eml: left alone, encrypted message"), std::string::npos) << result.out;
}

TEST_F(ClipsumTest, KeepHtmlLeavesAloneAMessageWithAnHtmlPart)
{
    std::string message = std::string(kAlternativeOnly);
    message.replace(message.find("multipart/alternative; boundary=\"alt\""), 37,
                    "multipart/mixed; boundary=\"alt\"");
    message.replace(message.find("--alt--"), 7,
                    "--alt\r\nContent-Type: image/png\r\nContent-Disposition: attachment\r\n\r\niVBORw0K\r\n--alt--");
    fs::path file = Put("html.eml", message);
    RunResult kept = Run({"strip", "--in-place", "--keep-html", file});
    EXPECT_EQ(ReadFile(file), message);
    EXPECT_NE(kept.out.find("html.eml: left alone, HTML message"), std::string::npos) << kept.out;
    Run({"strip", "--in-place", file});
    EXPECT_NE(ReadFile(file), message);
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
