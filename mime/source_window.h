#pragma once
// The bytes of a message as the parser walks them, line by line. The parser
// is written once against this shape and runs over two windows: the whole
// text in memory (the plug-in's source), which never refills, and
// SourceWindow, which reads a ByteSource into a buffer of bounded size.
//
// A window shows the line at its position: its content up to the line break
// (not included) and whether the line ends there. A line longer than the
// window is shown in pieces when the caller allows it (atLeast bytes, the
// least that answers its question), and whole otherwise; Consume moves past
// the piece, or past the line and its break.

#include <cstddef>
#include <cstring>

#include "mime/line_reader.h"
#include "mime/strip_message.h"

struct LineView {
    const char* text;
    std::size_t length; // content bytes shown, the line break left out
    bool whole;         // the line ends behind them (a line break or the end of the message)
};

// atLeast for a line that must be shown whole.
constexpr std::size_t kWholeLine = static_cast<std::size_t>(-1);

class SourceWindow {
public:
    explicit SourceWindow(ByteSource& source) : source_(source) {}
    ~SourceWindow();
    SourceWindow(const SourceWindow&) = delete;
    SourceWindow& operator=(const SourceWindow&) = delete;

    // Takes a buffer of capacity bytes (at least 2); false when out of memory.
    bool Start(std::size_t capacity);

    // Shows the line at the position; false at the end of the message (also
    // after a failure, which Failure() then names).
    bool NextLine(LineView& line, std::size_t atLeast)
    {
        // Most lines end inside the window, with a byte after their break (the
        // LF of a CR LF is never waited for).
        const std::size_t length = std::strcspn(pos_, "\r\n");
        if (pos_ + length + 1 < end_ && pos_[length] != '\0') {
            line = LineView{pos_, length, true};
            return true;
        }
        return NextLineAfter(line, atLeast, length);
    }

    void Consume(const LineView& line)
    {
        const char* next = line.whole ? SkipLineBreak(line.text + line.length) : line.text + line.length;
        pos_ = data_ + (next - data_);
    }

    // The byte at the position; '\0' at the end of the message.
    char First();

    // Ok, OutOfMemory or ReadFailed.
    StripStatus Failure() const { return failure_; }

    // What is left unread of the bytes held, NUL-terminated.
    const char* Rest() const { return pos_; }

private:
    // NextLine when the line may go on beyond the bytes held; the first
    // scanned bytes of it hold no line break.
    bool NextLineAfter(LineView& line, std::size_t atLeast, std::size_t scanned);
    // Moves what is unread to the front and reads once into the room behind
    // it, or, with the buffer full, makes it twice as large.
    bool Refill(bool grow);
    void Fail(StripStatus failure);

    ByteSource& source_;
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
    char* pos_ = nullptr;
    char* end_ = nullptr; // *end_ is always '\0'
    bool ended_ = false;
    StripStatus failure_ = StripStatus::Ok;
};
