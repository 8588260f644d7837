// clipsum as an administrator runs it over stored mail: folders and trees,
// the filters, the report for people and for scripts, the way back, and bad
// input on the way.

#include "clipsum_fixture.h"
#include "sample_messages.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using namespace clipsum_test;

std::string Dated(const std::string& date, const std::string& message)
{
    return "Date: " + date + "\r\n" + message;
}

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// A Japanese subject and a file name encoded as mail carries them.
const char kJapaneseMessage[] =
    "From: =?ISO-2022-JP?B?GyRCOjRGIxsoQg==?= <sato@example.co.jp>\r\n"
    "Subject: =?UTF-8?B?5Lya6K2w44Gu6LOH5paZ?=\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"j\"\r\n"
    "\r\n"
    "--j\r\n"
    "Content-Type: text/plain; charset=UTF-8\r\n"
    "\r\n"
    "Please find the slides attached.\r\n"
    "--j\r\n"
    "Content-Type: application/vnd.ms-powerpoint; name=\"slides.ppt\"\r\n"
    "Content-Disposition: attachment; filename=\"slides.ppt\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "0M8R4KGxGuEAAAAAAAAAAAAAAAAAAAAAPgADAP7/CQAG\r\n"
    "--j--\r\n";

TEST_F(ClipsumTest, AFolderIsHandledInOrderOfNameAndATreeOnlyWithR)
{
    fs::create_directories(dir_ / "mail" / "2019");
    WriteFile(dir_ / "mail" / "b.eml", kMultipartMessage);
    WriteFile(dir_ / "mail" / "a.eml", kSinglePartMessage);
    WriteFile(dir_ / "mail" / "c.eml", kMultipartMessage);
    WriteFile(dir_ / "mail" / ".hidden.eml", kMultipartMessage);
    WriteFile(dir_ / "mail" / "2019" / "old.eml", kMultipartMessage);

    RunResult flat = Run({"strip", "--dry-run", dir_ / "mail"});
    EXPECT_EQ(flat.exitStatus, 0);
    std::vector<std::string> lines = LinesOf(flat.out);
    ASSERT_GE(lines.size(), 4u) << flat.out;
    EXPECT_EQ(lines[0].find((dir_ / "mail" / "a.eml").string() + ": left alone"), 0u) << flat.out;
    EXPECT_EQ(lines[1].find((dir_ / "mail" / "b.eml").string() + ": would be stripped"), 0u) << flat.out;
    EXPECT_EQ(lines[2].find((dir_ / "mail" / "c.eml").string() + ": would be stripped"), 0u) << flat.out;
    EXPECT_EQ(flat.out.find("hidden"), std::string::npos);
    EXPECT_NE(flat.out.find("1 sub-folders not entered (-r goes into them)"), std::string::npos) << flat.out;

    RunResult tree = Run({"strip", "--in-place", "-r", dir_ / "mail"});
    EXPECT_EQ(tree.exitStatus, 0);
    EXPECT_EQ(ReadFile(dir_ / "mail" / "2019" / "old.eml"), kStrippedMessage);
    EXPECT_EQ(ReadFile(dir_ / "mail" / ".hidden.eml"), kMultipartMessage);
    EXPECT_NE(tree.out.find("3 stripped, 1 left alone, 0 failed"), std::string::npos) << tree.out;
}

TEST_F(ClipsumTest, SymbolicLinksAreNotFollowedOutOfTheTree)
{
    fs::create_directories(dir_ / "tree" / "sub");
    fs::create_directories(dir_ / "outside");
    WriteFile(dir_ / "outside" / "precious.eml", kMultipartMessage);
    WriteFile(dir_ / "tree" / "sub" / "inside.eml", kMultipartMessage);
    fs::create_symlink(dir_ / "outside" / "precious.eml", dir_ / "tree" / "escape.eml");
    fs::create_symlink(dir_ / "outside", dir_ / "tree" / "outside-folder");
    fs::create_symlink(dir_ / "tree", dir_ / "tree" / "sub" / "loop");
    fs::create_symlink(dir_ / "tree" / "sub" / "inside.eml", dir_ / "tree" / "alias.eml");

    RunResult result = Run({"strip", "--in-place", "-r", dir_ / "tree"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(ReadFile(dir_ / "outside" / "precious.eml"), kMultipartMessage);
    EXPECT_EQ(ReadFile(dir_ / "tree" / "sub" / "inside.eml"), kStrippedMessage);
    EXPECT_TRUE(fs::is_symlink(dir_ / "tree" / "alias.eml"));
    EXPECT_NE(result.out.find("escape.eml: left alone, symbolic link out of the tree, not followed"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("outside-folder: left alone, symbolic link to a folder, not followed"),
              std::string::npos)
        << result.out;
}

TEST_F(ClipsumTest, MinSizeAndOlderThanChooseTheMessages)
{
    std::string big = Dated("Mon, 4 Jan 2010 09:00:00 +0900", kMultipartMessage);
    big.insert(big.find("QUJDREVGR0g="), std::string(2048, 'Q') + "\r\n");
    WriteFile(dir_ / "old-big.eml", big);
    WriteFile(dir_ / "old-small.eml", Dated("Mon, 4 Jan 2010 09:00:00 +0900", kMultipartMessage));
    WriteFile(dir_ / "recent.eml", Dated("Mon, 4 Jan 2010 09:00:00 +0900", kMultipartMessage));
    WriteFile(dir_ / "undated.eml", kMultipartMessage);
    WriteFile(dir_ / "bad-date.eml", Dated("sometime last spring", kMultipartMessage));
    // A Date a day from now is never older than anything.
    WriteFile(dir_ / "recent.eml", Dated("Mon, 4 Jan 2100 09:00:00 +0900", kMultipartMessage));

    RunResult bySize = Run({"strip", "--dry-run", "--min-size", "2k", dir_});
    EXPECT_NE(bySize.out.find("old-big.eml: would be stripped"), std::string::npos) << bySize.out;
    EXPECT_NE(bySize.out.find("old-small.eml: left alone, smaller than --min-size"), std::string::npos);

    RunResult byAge = Run({"strip", "--in-place", "--older-than", "365", dir_});
    EXPECT_EQ(byAge.exitStatus, 0);
    EXPECT_NE(ReadFile(dir_ / "old-small.eml").find("Content-Type: text/plain"), std::string::npos);
    EXPECT_NE(byAge.out.find("recent.eml: left alone, newer than --older-than"), std::string::npos) << byAge.out;
    EXPECT_NE(byAge.out.find("undated.eml: left alone, no Date field (--older-than)"), std::string::npos);
    EXPECT_NE(byAge.out.find("bad-date.eml: left alone, no usable date in its Date field (--older-than)"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir_ / "undated.eml"), kMultipartMessage);
    EXPECT_NE(byAge.out.find("2 stripped, 3 left alone"), std::string::npos) << byAge.out;

    for (const char* misuse : {"--min-size=lots", "--min-size=5X", "--older-than=-3", "--older-than=soon"}) {
        RunResult refused = Run({"strip", "--dry-run", misuse, dir_});
        EXPECT_EQ(refused.exitStatus, 2) << misuse;
    }
}

TEST_F(ClipsumTest, ReportLinesAndSummaryGiveTheSubjectWhatWentAndTheBytesSaved)
{
    WriteFile(dir_ / "a.eml", kJapaneseMessage);
    WriteFile(dir_ / "b.eml", kSinglePartMessage);
    WriteFile(dir_ / "c.eml", kMultipartMessage);
    RunResult result = Run({"strip", "--in-place", "--report", (dir_ / "report.json").string(), dir_ / "a.eml",
                            dir_ / "b.eml", dir_ / "c.eml"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("a.eml: stripped, "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("; subject \"\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe8\xb3\x87\xe6\x96\x99\"; removed "
                              "application/vnd.ms-powerpoint \"slides.ppt\"\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("c.eml: stripped, 374 -> 151 bytes; subject \"report\"; removed "
                              "application/octet-stream"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("b.eml: left alone, not a multipart message; subject"), std::string::npos);
    std::size_t before = sizeof kJapaneseMessage - 1 + sizeof kSinglePartMessage - 1 + sizeof kMultipartMessage - 1;
    std::size_t after = ReadFile(dir_ / "a.eml").size() + ReadFile(dir_ / "b.eml").size() + 151;
    EXPECT_NE(result.out.find("2 stripped, 1 left alone, 0 failed; " + std::to_string(before) + " -> " +
                              std::to_string(after) + " bytes, " + std::to_string(before - after) + " saved"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("left alone: 1 not a multipart message\n"), std::string::npos) << result.out;

    std::vector<std::string> json = LinesOf(ReadFile(dir_ / "report.json"));
    ASSERT_EQ(json.size(), 3u);
    EXPECT_EQ(json[0].find("{\"path\":\"" + (dir_ / "a.eml").string() + "\",\"outcome\":\"stripped\""), 0u)
        << json[0];
    EXPECT_NE(json[0].find("\"removed_count\":1,\"removed\":[{\"type\":\"application/vnd.ms-powerpoint\","
                           "\"filename\":\"slides.ppt\"}]"),
              std::string::npos)
        << json[0];
    EXPECT_NE(json[1].find("\"outcome\":\"left alone\",\"reason\":\"not a multipart message\""), std::string::npos);
    EXPECT_NE(json[2].find("\"bytes_before\":374,\"bytes_after\":151"), std::string::npos) << json[2];

    RunResult quiet = Run({"strip", "--dry-run", "-q", dir_ / "c.eml"});
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    RunResult version = Run({"--version"});
    EXPECT_EQ(version.out.find("clipsum "), 0u);
}

TEST_F(ClipsumTest, RestorePutsBackTheOriginalsAndRefusesAChangedFile)
{
    fs::path backups = dir_ / "backups";
    fs::create_directories(backups);
    fs::create_directories(dir_ / "Maildir" / "cur");
    fs::create_directories(dir_ / "Maildir" / "new");
    fs::create_directories(dir_ / "Maildir" / "tmp");
    fs::path unread = dir_ / "Maildir" / "new" / "1614679200.M1P2.host";
    fs::path seen = dir_ / "Maildir" / "cur" / "1614679201.M1P2.host:2,S";
    fs::path box = dir_ / "saved.mbox";
    const std::string mbox = "From a@example.com Tue Mar  2 10:00:00 2021\n" + std::string(kMultipartMessage) +
                             "\nFrom b@example.com Tue Mar  2 10:00:00 2021\n" + kSinglePartMessage + "\n";
    WriteFile(unread, kMultipartMessage);
    WriteFile(seen, kMultipartMessage);
    WriteFile(box, mbox);
    ASSERT_EQ(Run({"strip", "--in-place", "--backup-dir", backups, dir_ / "Maildir", box}).exitStatus, 0);
    ASSERT_EQ(ReadFile(seen), kStrippedMessage);

    // The mail client saw the new message (moved to cur/, flagged) and someone changed the seen one.
    fs::path moved = dir_ / "Maildir" / "cur" / "1614679200.M1P2.host:2,RS";
    fs::rename(unread, moved);
    WriteFile(seen, std::string(kStrippedMessage) + "edited\r\n");

    RunResult dry = Run({"restore", "--backup-dir", backups, "--dry-run", dir_});
    EXPECT_EQ(dry.exitStatus, 1);
    EXPECT_NE(dry.out.find(moved.string() + ": would be restored from "), std::string::npos) << dry.out;
    EXPECT_EQ(ReadFile(moved), kStrippedMessage);

    RunResult restored = Run({"restore", "--backup-dir", backups, dir_});
    EXPECT_EQ(restored.exitStatus, 1);
    EXPECT_EQ(ReadFile(moved), kMultipartMessage);
    EXPECT_EQ(ReadFile(box), mbox);
    EXPECT_NE(ReadFile(seen), kMultipartMessage);
    EXPECT_NE(restored.err.find(seen.string() + ": changed since it was stripped; left as it is (--force"),
              std::string::npos)
        << restored.err;
    EXPECT_NE(restored.out.find("2 restored, 0 left alone, 1 failed"), std::string::npos) << restored.out;

    RunResult forced = Run({"restore", "--backup-dir", backups, "--force", seen});
    EXPECT_EQ(forced.exitStatus, 0) << forced.err;
    EXPECT_EQ(ReadFile(seen), kMultipartMessage);
    RunResult again = Run({"restore", "--backup-dir", backups, dir_});
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_NE(again.out.find("0 restored, 3 left alone, 0 failed"), std::string::npos) << again.out;

    EXPECT_EQ(Run({"restore", dir_}).exitStatus, 2);
    EXPECT_EQ(Run({"restore", "--backup-dir", dir_ / "Maildir", dir_}).exitStatus, 2);
}

TEST_F(ClipsumTest, BadInputInAFolderGetsItsLineAndTheRunGoesOn)
{
    fs::create_directories(dir_ / "mail");
    std::string binary = "\x7f" "ELF\x02\x01\x01";
    binary.push_back('\0');
    binary += "binary";
    WriteFile(dir_ / "mail" / "a.out", binary);
    WriteFile(dir_ / "mail" / "b.eml", kMultipartMessage);
    WriteFile(dir_ / "mail" / "c.eml", kMultipartMessage);
    ASSERT_EQ(mkfifo((dir_ / "mail" / "d.pipe").c_str(), 0600), 0);
    // A mailbox with a read-only file: its messages are left alone, whole.
    const std::string mbox = "From a@example.com Tue Mar  2 10:00:00 2021\n" + std::string(kMultipartMessage);
    WriteFile(dir_ / "mail" / "e.mbox", mbox);
    ASSERT_EQ(chmod((dir_ / "mail" / "e.mbox").c_str(), 0444), 0);

    RunResult result = Run({"strip", "--in-place", dir_ / "mail"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("a.out: holds a NUL byte at offset 7, not a text message; refused"), std::string::npos)
        << result.err;
    EXPECT_NE(result.out.find("d.pipe: left alone, not a regular file"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("e.mbox, message 1: left alone, read-only file (--force to strip it)"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(ReadFile(dir_ / "mail" / "a.out"), binary);
    EXPECT_EQ(ReadFile(dir_ / "mail" / "c.eml"), kStrippedMessage);
    EXPECT_EQ(ReadFile(dir_ / "mail" / "e.mbox"), mbox);
}

TEST_F(ClipsumTest, AnMboxToStandardOutputComesWholeStrippedOrNot)
{
    const std::string plain = "From a@example.com Tue Mar  2 10:00:00 2021\n" + std::string(kSinglePartMessage);
    const std::string attached = "From a@example.com Tue Mar  2 10:00:00 2021\n" + std::string(kMultipartMessage) +
                                 "\n" + plain;
    WriteFile(dir_ / "plain.mbox", plain);
    WriteFile(dir_ / "attached.mbox", attached);
    RunResult same = Run({"strip", "--stdout", dir_ / "plain.mbox"});
    EXPECT_EQ(same.exitStatus, 0);
    EXPECT_EQ(same.out, plain);
    RunResult stripped = Run({"strip", "--stdout", dir_ / "attached.mbox"});
    EXPECT_EQ(stripped.out, "From a@example.com Tue Mar  2 10:00:00 2021\n" + std::string(kStrippedMessage) + "\n" +
                                plain);
    EXPECT_EQ(ReadFile(dir_ / "attached.mbox"), attached);
}

TEST_F(ClipsumTest, AFullDiskLeavesEveryMessageAsItWas)
{
    fs::path disk = dir_ / "small";
    fs::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    std::string large = kMultipartMessage;
    large.insert(large.find("QUJDREVGR0g="), std::string(40000, 'Q') + "\r\n");
    std::string box = "From a@example.com Tue Mar  2 10:00:00 2021\n" + large;
    WriteFile(disk / "a.eml", large);
    WriteFile(disk / "b.mbox", box);
    bool written = ReadFile(disk / "a.eml") == large && ReadFile(disk / "b.mbox") == box;
    WriteFile(disk / "filler", std::string(256 * 1024, 'x')); // fills what is left

    RunResult result = Run({"strip", "--in-place", disk});
    EXPECT_TRUE(written);
    EXPECT_TRUE(ReadFile(disk / "a.eml") == large);
    EXPECT_TRUE(ReadFile(disk / "b.mbox") == box);
    umount(disk.c_str());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
}

} // namespace
