#include <cstring>

#include "mime/allocator.h"
#include "mime/mime_part.h"

namespace {

constexpr std::size_t kGrowthStep = 65536;

// The text being written: always NUL-terminated, grown in fixed steps.
class OutputText {
public:
    ~OutputText() { mime::Release(data_); }

    bool Start()
    {
        data_ = static_cast<char*>(mime::Allocate(kGrowthStep));
        if (!data_)
            return false;
        capacity_ = kGrowthStep;
        data_[0] = '\0';
        return true;
    }

    // Copies length bytes of item, having made sure that need more bytes fit.
    bool Write(const char* item, std::size_t length, std::size_t need)
    {
        if (need > SIZE_MAX - kGrowthStep - position_)
            return false;
        if (position_ + need >= capacity_) {
            const std::size_t steps = (position_ + need - capacity_) / kGrowthStep + 1;
            const std::size_t capacity = capacity_ + steps * kGrowthStep;
            auto* grown = static_cast<char*>(mime::Reallocate(data_, capacity));
            if (!grown)
                return false;
            data_ = grown;
            capacity_ = capacity;
        }
        std::memcpy(data_ + position_, item, length);
        position_ += length;
        data_[position_] = '\0';
        return true;
    }

    bool WriteLines(const LineList& lines)
    {
        for (const LineNode* line = lines.head; line && line->length != 0; line = line->next) {
            const auto length = static_cast<std::size_t>(line->length);
            if (!Write(line->text, length, length))
                return false;
        }
        return true;
    }

    bool WriteDelimiter(const char* boundary, std::size_t boundaryLength, bool closing)
    {
        const char* ending = closing ? "--\r\n" : "\r\n";
        const std::size_t endingLength = closing ? 4 : 2;
        return Write("--", 2, boundaryLength + 2 + endingLength) &&
               Write(boundary, boundaryLength, boundaryLength + endingLength) &&
               Write(ending, endingLength, endingLength);
    }

    // Hands over the text, trimmed to its length, the terminator and one spare byte.
    char* Finish(std::size_t& length)
    {
        auto* trimmed = static_cast<char*>(mime::Reallocate(data_, position_ + 2));
        if (!trimmed)
            return nullptr;
        data_ = nullptr;
        length = position_;
        return trimmed;
    }

private:
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t position_ = 0;
};

} // namespace

char* MimePart::Serialize(std::size_t& length) const
{
    OutputText out;
    if (!out.Start() || !out.WriteLines(headers) || !out.WriteLines(body))
        return nullptr;
    if (firstChild) {
        const std::size_t boundaryLength = std::strlen(boundary);
        for (const MimePart* child = firstChild; child; child = child->next) {
            if (!out.WriteDelimiter(boundary, boundaryLength, false))
                return nullptr;
            std::size_t childLength;
            char* childText = child->Serialize(childLength);
            if (!childText)
                return nullptr;
            const bool written = childLength <= SIZE_MAX - 10 && out.Write(childText, childLength, childLength + 10);
            mime::Release(childText);
            if (!written)
                return nullptr;
        }
        if (!out.WriteDelimiter(boundary, boundaryLength, true) || !out.WriteLines(epilogue))
            return nullptr;
    }
    return out.Finish(length);
}
