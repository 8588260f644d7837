// Whole messages in, exact bytes out: each folder under golden/ holds the
// cases of one rule of the reduction. NAME.eml is stripped and must give
// NAME.stripped.eml byte for byte, or be left alone for the reason named in
// NAME.outcome.

#include <algorithm>
#include <cstdint>
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
    case StripStatus::ReadFailed:
        return "read failed";
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
    // Each dropped part as listed: its type, fields and size.
    std::vector<std::string> listing;
    std::string caption;
    bool hasHtmlPart;
    bool hasAttachment;
};

bool operator==(const Result& a, const Result& b)
{
    return a.status == b.status && a.source == b.source && a.removed == b.removed && a.listing == b.listing &&
           a.caption == b.caption && a.hasHtmlPart == b.hasHtmlPart && a.hasAttachment == b.hasAttachment;
}

std::string Listed(const RemovedPart& part)
{
    const auto text = [](const char* field) { return field ? std::string(field) : std::string("(none)"); };
    return text(part.mediaType) + "|" + text(part.contentTypeField) + "|" + text(part.dispositionField) + "|" +
           text(part.encodingField) + "|" + std::to_string(part.decodedSize);
}

// How the message reaches the engine: whole, or in pieces of these sizes
// through a window that starts at windowBytes.
struct Reading {
    bool inPieces;
    std::vector<std::size_t> sizes;
    std::size_t windowBytes;
};

const Reading kWhole{false, {}, 0};

Result Strip(const std::string& source, const Reading& reading = kWhole)
{
    MessageStripper stripper(PartListing::RemovedWithSizes);
    StripStatus status;
    if (reading.inPieces) {
        PiecesSource pieces(source, reading.sizes);
        status = stripper.Parse(pieces, reading.windowBytes);
    } else {
        status = stripper.Parse(source.c_str());
    }
    Result result{status, {}, 0, {}, {}, false, false};
    if (status == StripStatus::NotMultipart && stripper.NoticeCaption())
        result.caption = stripper.NoticeCaption();
    if (status == StripStatus::Ok) {
        for (std::size_t i = 0; i < stripper.RemovedPartCount(); ++i)
            result.listing.push_back(Listed(stripper.RemovedPartAt(i)));
        result.hasHtmlPart = stripper.HasHtmlPart();
        result.hasAttachment = stripper.HasAttachment();
        result.status = stripper.Reduce();
    }
    if (result.status != StripStatus::Ok)
        return result;
    result.source.assign(stripper.NewSource(), stripper.NewLength());
    result.removed = stripper.RemovedPartCount();
    return result;
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

// A message read from a file comes in pieces cut anywhere: in a header field,
// in a delimiter, between CR and LF. Wherever the reads split it, and with a
// window smaller than its lines, it comes out as when it is given whole.
TEST_F(GoldenTest, EachMessageReadInPiecesComesOutAsGivenWhole)
{
    for (const fs::path& path : Messages()) {
        SCOPED_TRACE(path.string());
        const std::string source = ReadFile(path);
        const Result whole = Strip(source);
        for (std::size_t split = 0; split < source.size(); ++split) {
            ASSERT_EQ(Strip(source, {true, SplitAt(split), kWindowBytes}), whole) << "split at " << split;
            ASSERT_EQ(Strip(source, {true, SplitAt(split), 16}), whole) << "split at " << split << ", window 16";
        }
        for (std::size_t window : {2, 3, 5, 64}) {
            ASSERT_EQ(Strip(source, {true, {1}, window}), whole) << "bytes one by one, window " << window;
        }
    }
}

// Every allocation of every strip above, failed in turn, ends the strip as
// out of memory with nothing leaked; once all go through, the result is the
// one above. So it is when the message is read in pieces.
TEST_F(GoldenTest, AnyFailedAllocationEndsEachStripCleanly)
{
    const Reading readings[] = {kWhole, {true, {7}, 16}};
    for (const fs::path& path : Messages()) {
        SCOPED_TRACE(path.string());
        const std::string source = ReadFile(path);
        const Result whole = Strip(source);
        for (const Reading& reading : readings) {
            for (long which = 1;; ++which) {
                Result result{};
                {
                    FailingAllocations failing(which);
                    result = Strip(source, reading);
                    if (FailingAllocations::Made() < which) {
                        EXPECT_EQ(result, whole);
                        break;
                    }
                }
                ASSERT_EQ(mime::LiveBlocks(), 0u) << "allocation " << which;
                ASSERT_EQ(result.status, StripStatus::OutOfMemory) << "allocation " << which;
            }
        }
    }
}

} // namespace
