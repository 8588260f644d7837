#include "mime/source_window.h"

#include <cstdint>
#include <cstring>

#include "mime/allocator.h"
#include "mime/line_reader.h"

SourceWindow::~SourceWindow()
{
    mime::Release(data_);
}

bool SourceWindow::Start(std::size_t capacity)
{
    // One byte for the content, one for the terminator.
    if (capacity < 2)
        capacity = 2;
    data_ = static_cast<char*>(mime::Allocate(capacity));
    if (!data_)
        return false;
    capacity_ = capacity;
    pos_ = data_;
    end_ = data_;
    *end_ = '\0';
    return true;
}

void SourceWindow::Fail(StripStatus failure)
{
    if (failure_ == StripStatus::Ok)
        failure_ = failure;
    // What is left ends here, so that every loop of the parse comes to its end.
    ended_ = true;
    end_ = pos_;
    *end_ = '\0';
}

bool SourceWindow::Refill(bool grow)
{
    if (pos_ != data_) {
        const std::size_t held = static_cast<std::size_t>(end_ - pos_);
        std::memmove(data_, pos_, held);
        pos_ = data_;
        end_ = data_ + held;
    }
    if (grow) {
        if (capacity_ > SIZE_MAX / 2) {
            Fail(StripStatus::OutOfMemory);
            return false;
        }
        auto* grown = static_cast<char*>(mime::Reallocate(data_, capacity_ * 2));
        if (!grown) {
            Fail(StripStatus::OutOfMemory);
            return false;
        }
        end_ = grown + (end_ - data_);
        pos_ = grown;
        data_ = grown;
        capacity_ *= 2;
    }
    const std::size_t room = capacity_ - 1 - static_cast<std::size_t>(end_ - data_);
    std::size_t got = 0;
    if (!source_.Read(end_, room, got) || got > room) {
        Fail(StripStatus::ReadFailed);
        return false;
    }
    if (got == 0)
        ended_ = true;
    end_ += got;
    *end_ = '\0';
    return true;
}

bool SourceWindow::NextLineAfter(LineView& line, std::size_t atLeast, std::size_t scanned)
{
    for (;;) {
        const std::size_t length = scanned + std::strcspn(pos_ + scanned, "\r\n");
        char* stop = pos_ + length;
        if (stop < end_ && *stop == '\0') {
            ended_ = true;
            end_ = stop;
        }
        // A CR that is the last byte held may be the first half of CR LF.
        if (stop < end_ && !(*stop == '\r' && stop + 1 == end_ && !ended_)) {
            line = LineView{pos_, length, true};
            return true;
        }
        if (ended_) {
            if (length == 0 && stop == end_)
                return false;
            line = LineView{pos_, length, true};
            return true;
        }
        const bool full = pos_ == data_ && static_cast<std::size_t>(end_ - data_) == capacity_ - 1;
        if (full && length >= atLeast) {
            line = LineView{pos_, length, false};
            return true;
        }
        if (!Refill(full))
            return false;
        scanned = length;
    }
}

char SourceWindow::First()
{
    while (pos_ == end_ && !ended_) {
        if (!Refill(false))
            break;
    }
    return *pos_;
}
