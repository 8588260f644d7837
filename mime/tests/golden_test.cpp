// Whole messages in, exact bytes out: each folder under golden/ holds the
// cases of one rule of the reduction. NAME.eml is stripped and must give
// NAME.stripped.eml byte for byte, or be left alone for the reason named in
// NAME.outcome.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mime/strip_message.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

using GoldenTest = EngineTest;

std::string ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string OutcomeName(StripStatus status)
{
    switch (status) {
    case StripStatus::Ok:
        return "stripped";
    case StripStatus::NotMultipart:
        return "not multipart";
    case StripStatus::TooDeep:
        return "too deep";
    case StripStatus::OutOfMemory:
        return "out of memory";
    case StripStatus::Encrypted:
        return "encrypted";
    }
    return "?";
}

bool EndsWith(const std::string& text, const std::string& ending)
{
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::vector<fs::path> Messages()
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(GOLDEN_DIR)) {
        const std::string name = entry.path().filename().string();
        if (EndsWith(name, ".eml") && !EndsWith(name, ".stripped.eml"))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

struct Result {
    StripStatus status;
    std::string source;
    std::size_t removed;
};

Result Strip(const std::string& source)
{
    MessageStripper stripper(PartListing::Removed);
    StripStatus status = stripper.Parse(source.c_str());
    if (status == StripStatus::Ok)
        status = stripper.Reduce();
    if (status != StripStatus::Ok)
        return {status, {}, 0};
    return {status, std::string(stripper.NewSource(), stripper.NewLength()), stripper.RemovedPartCount()};
}

TEST_F(GoldenTest, EachMessageComesOutAsWritten)
{
    const std::vector<fs::path> messages = Messages();
    ASSERT_GE(messages.size(), 10u) << GOLDEN_DIR;
    for (const fs::path& path : messages) {
        SCOPED_TRACE(path.string());
        const std::string source = ReadFile(path);
        fs::path stripped = path;
        stripped.replace_extension(".stripped.eml");
        fs::path outcome = path;
        outcome.replace_extension(".outcome");

        const Result result = Strip(source);
        if (fs::exists(stripped)) {
            ASSERT_EQ(OutcomeName(result.status), "stripped");
            EXPECT_EQ(result.source, ReadFile(stripped));
        } else {
            std::string expected = ReadFile(outcome);
            expected.erase(expected.find_last_not_of("\r\n") + 1);
            EXPECT_EQ(OutcomeName(result.status), expected);
        }
    }
}

// Every allocation of every strip above, failed in turn, ends the strip as
// out of memory with nothing leaked; once all go through, the result is the
// one above.
TEST_F(GoldenTest, AnyFailedAllocationEndsEachStripCleanly)
{
    for (const fs::path& path : Messages()) {
        SCOPED_TRACE(path.string());
        const std::string source = ReadFile(path);
        const Result whole = Strip(source);
        for (long which = 1;; ++which) {
            Result result{};
            {
                FailingAllocations failing(which);
                result = Strip(source);
                if (FailingAllocations::Made() < which) {
                    EXPECT_EQ(result.status, whole.status);
                    EXPECT_EQ(result.source, whole.source);
                    break;
                }
            }
            ASSERT_EQ(mime::LiveBlocks(), 0u) << "allocation " << which;
            ASSERT_EQ(result.status, StripStatus::OutOfMemory) << "allocation " << which;
        }
    }
}

} // namespace
