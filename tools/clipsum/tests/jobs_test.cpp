// clipsum -j: a tree handled by several threads comes out, file for file and
// line for line, as it does with one.

#include "clipsum_fixture.h"
#include "sample_messages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace clipsum_test;

// Every file below root (links as what they are), by its path from root.
std::map<std::string, std::string> Contents(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_symlink())
            files[name] = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            files[name] = ReadFile(entry.path());
    }
    return files;
}

std::string Numbered(const char* message, int number)
{
    return "X-Number: " + std::to_string(number) + "\r\n" + message;
}

std::string Mailbox(int messages)
{
    std::string mbox;
    for (int i = 0; i < messages; ++i)
        mbox += "From someone@example.com Mon Jan  1 00:00:00 2024\n" +
                Numbered(i % 2 ? kSinglePartMessage : kMultipartMessage, i) + "\n\n";
    return mbox;
}

class JobsTest : public ClipsumTest {
protected:
    // A tree with what a run meets: messages to strip and to leave alone,
    // files that fail, mboxes, a Maildir, names met twice, one file reached
    // by two paths.
    void MakeTree()
    {
        const fs::path tree = dir_ / "tree";
        for (const char* folder : {"a", "b", "c/deep", "box/cur", "box/new", "box/tmp"})
            fs::create_directories(tree / folder);
        for (int i = 0; i < 40; ++i) {
            const std::string name = "m" + std::to_string(100 + i) + ".eml";
            WriteFile(tree / (i % 3 ? "a" : "b") / name, Numbered(i % 4 ? kMultipartMessage : kSinglePartMessage, i));
            WriteFile(tree / "box" / (i % 2 ? "cur" : "new") / (std::to_string(i) + ".host:2,S"),
                      Numbered(kMultipartMessage, i));
        }
        // The same names in a and b: their backup copies are NAME and NAME.1.
        WriteFile(tree / "c" / "m101.eml", Numbered(kMultipartMessage, 1));
        WriteFile(tree / "a" / "m117.nul", std::string("Subject: x\r\n\r\n\0", 15));
        WriteFile(tree / "b" / "m118.empty", "");
        WriteFile(tree / "c" / "deep" / "big.mbox", Mailbox(30));
        WriteFile(tree / "c" / "small.mbox", Mailbox(3));
        // Listed right after the file it leads to: both are in flight at once.
        fs::create_symlink(tree / "a" / "m101.eml", tree / "a" / "m101.eml.again");
        fs::create_symlink(tree / "b" / "m103.eml", tree / "c" / "alias.eml");
        // Links in f to the files of e, just before: handled while e's are.
        fs::create_directories(tree / "e");
        fs::create_directories(tree / "f");
        for (int i = 0; i < 12; ++i) {
            const std::string name = std::to_string(10 + i) + ".eml";
            WriteFile(tree / "e" / name, Numbered(kMultipartMessage, i));
            fs::create_symlink(tree / "e" / name, tree / "f" / name);
        }
    }

    // count messages m100.eml ... in a new folder named folder, and an empty
    // folder beside it named side.
    void FreshMessages(const char* folder, const char* side, int count)
    {
        for (const char* name : {folder, side}) {
            fs::remove_all(dir_ / name);
            fs::create_directories(dir_ / name);
        }
        for (int i = 0; i < count; ++i)
            WriteFile(dir_ / folder / ("m" + std::to_string(100 + i) + ".eml"), Numbered(kMultipartMessage, i));
    }

    struct Outcome {
        RunResult result;
        std::map<std::string, std::string> tree;
        std::map<std::string, std::string> backups;
        std::string json;
    };

    Outcome StripWith(const std::string& jobs)
    {
        fs::remove_all(dir_ / "tree");
        fs::remove_all(dir_ / "backup");
        MakeTree();
        fs::create_directory(dir_ / "backup");
        Outcome outcome;
        outcome.result = Run({"strip", "--in-place", "-r", "-j", jobs, "--backup-dir", dir_ / "backup", "--report",
                              dir_ / "report.json", dir_ / "tree"});
        outcome.tree = Contents(dir_ / "tree");
        outcome.backups = Contents(dir_ / "backup");
        outcome.json = ReadFile(dir_ / "report.json");
        return outcome;
    }
};

TEST_F(JobsTest, ATreeStrippedByFourJobsComesOutAsWithOne)
{
    const Outcome one = StripWith("1");
    const Outcome four = StripWith("4");
    EXPECT_EQ(one.result.exitStatus, 1); // the file with a NUL byte and the empty one
    EXPECT_EQ(four.result.exitStatus, one.result.exitStatus);
    EXPECT_EQ(four.result.out, one.result.out);
    EXPECT_EQ(four.result.err, one.result.err);
    EXPECT_EQ(four.json, one.json);
    EXPECT_TRUE(four.tree == one.tree);
    EXPECT_TRUE(four.backups == one.backups);

    // What the run did, so that the comparison is of a run that did it all.
    EXPECT_EQ(one.tree.at("a/m101.eml"), std::string("X-Number: 1\r\n") + kStrippedMessage);
    EXPECT_EQ(one.backups.at("m101.eml.1"), Numbered(kMultipartMessage, 1));
    EXPECT_NE(one.result.out.find("big.mbox: mbox of 30 messages, 15 stripped; rewritten"), std::string::npos)
        << one.result.out;
    EXPECT_NE(one.result.out.find("m101.eml.again: left alone, not a multipart message"), std::string::npos) << one.result.out;
    EXPECT_NE(one.result.out.find("\n100 stripped, 40 left alone, 2 failed;"), std::string::npos) << one.result.out;
}

TEST_F(JobsTest, AFileThatFailsAmongManyIsReportedInItsPlace)
{
    fs::create_directory(dir_ / "many");
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
        char name[16];
        snprintf(name, sizeof name, "%03d.eml", i);
        names.push_back(name);
        WriteFile(dir_ / "many" / name, i == 137 ? std::string("Subject: x\r\n\r\n\0", 15) : Numbered(kMultipartMessage, i));
    }
    RunResult result = Run({"strip", "--dry-run", "-j", "3", "--report", dir_ / "report.json", dir_ / "many"});
    EXPECT_EQ(result.exitStatus, 1);
    std::vector<std::string> json;
    const std::string report = ReadFile(dir_ / "report.json");
    for (std::size_t start = 0, end; (end = report.find('\n', start)) != std::string::npos; start = end + 1)
        json.push_back(report.substr(start, end - start));
    ASSERT_EQ(json.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_NE(json[i].find("/many/" + names[i] + "\""), std::string::npos) << json[i];
        EXPECT_EQ(json[i].find("\"outcome\":\"failed\"") != std::string::npos, i == 137) << json[i];
    }
    EXPECT_NE(result.err.find("137.eml: holds a NUL byte at offset 14"), std::string::npos) << result.err;
}

// Files told apart by what their folder's listing says of them: a folder
// named twice, and hard links, are each one file, handled once after another.
TEST_F(JobsTest, AFolderNamedTwiceAndHardLinksAreHandledAsWithOneJob)
{
    auto strip = [this](const std::string& jobs) {
        // Few, so that both rounds are in flight at once.
        FreshMessages("twice", "backup", 6);
        for (int i = 0; i < 6; i += 3)
            fs::create_hard_link(dir_ / "twice" / ("m" + std::to_string(100 + i) + ".eml"),
                                 dir_ / "twice" / ("m" + std::to_string(100 + i) + ".eml.link"));
        Outcome outcome;
        outcome.result = Run({"strip", "--in-place", "-j", jobs, "--backup-dir", dir_ / "backup", dir_ / "twice",
                              dir_ / "twice"});
        outcome.tree = Contents(dir_ / "twice");
        outcome.backups = Contents(dir_ / "backup");
        return outcome;
    };
    const Outcome one = strip("1");
    const Outcome four = strip("4");
    EXPECT_EQ(four.result.exitStatus, one.result.exitStatus);
    EXPECT_EQ(four.result.out, one.result.out);
    EXPECT_EQ(four.result.err, one.result.err);
    EXPECT_TRUE(four.tree == one.tree);
    EXPECT_TRUE(four.backups == one.backups);
    // The second time round every message is found stripped already.
    EXPECT_NE(one.result.out.find("\n8 stripped, 8 left alone, 0 failed;"), std::string::npos) << one.result.out;
}

// Enough files that the threads begin on the first runs while the walk is
// still listing the rest: the report is still that of one job, line for line.
TEST_F(JobsTest, FilesHandledWhileTheFolderIsStillBeingListedAreReportedInOrder)
{
    for (const char* folder : {"a", "b"}) {
        fs::create_directories(dir_ / "big" / folder);
        for (int i = 0; i < 3000; ++i) {
            char name[16];
            snprintf(name, sizeof name, "%04d.eml", i);
            WriteFile(dir_ / "big" / folder / name,
                      i == 1777 ? std::string("Subject: x\r\n\r\n\0", 15)
                                : Numbered(i % 3 ? kMultipartMessage : kSinglePartMessage, i));
        }
    }
    RunResult one = Run({"strip", "--dry-run", "-r", "-j", "1", "--report", dir_ / "one.json", dir_ / "big"});
    RunResult two = Run({"strip", "--dry-run", "-r", "-j", "2", "--report", dir_ / "two.json", dir_ / "big"});
    RunResult four = Run({"strip", "--dry-run", "-r", "-j", "4", "--report", dir_ / "four.json", dir_ / "big"});
    EXPECT_EQ(one.exitStatus, 1);
    for (const RunResult* many : {&two, &four}) {
        EXPECT_EQ(many->exitStatus, one.exitStatus);
        EXPECT_TRUE(many->out == one.out);
        EXPECT_EQ(many->err, one.err);
    }
    EXPECT_TRUE(ReadFile(dir_ / "two.json") == ReadFile(dir_ / "one.json"));
    EXPECT_TRUE(ReadFile(dir_ / "four.json") == ReadFile(dir_ / "one.json"));
    EXPECT_NE(one.out.find("\n3998 would be stripped, 2000 left alone, 2 failed;"), std::string::npos)
        << one.out.substr(one.out.size() > 400 ? one.out.size() - 400 : 0);
}

// Every message holds a part named a.bin: the numbers the saved files get
// follow the order of the files, whatever thread saves first.
TEST_F(JobsTest, SavedPartsAreNumberedInTheOrderOfTheFiles)
{
    auto strip = [this](const std::string& jobs) {
        FreshMessages("mail", "saved", 40);
        Outcome outcome;
        outcome.result = Run({"strip", "--in-place", "--note", "-j", jobs, "--save-dir", dir_ / "saved", "--report",
                              dir_ / "report.json", dir_ / "mail"});
        outcome.tree = Contents(dir_ / "mail");
        outcome.backups = Contents(dir_ / "saved");
        outcome.json = ReadFile(dir_ / "report.json");
        return outcome;
    };
    const Outcome one = strip("1");
    ASSERT_EQ(one.backups.size(), 40u);
    ASSERT_EQ(one.backups.count("a (40).bin"), 1u);
    for (int round = 0; round < 3; ++round) {
        const Outcome four = strip("4");
        EXPECT_EQ(four.result.out, one.result.out);
        EXPECT_TRUE(four.tree == one.tree) << "the notes name the same files";
        EXPECT_TRUE(four.backups == one.backups);
        EXPECT_EQ(four.json, one.json);
    }
}

} // namespace
