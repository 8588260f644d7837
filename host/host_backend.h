#pragma once
// The host side of the TLA_ exports: the exported functions record each call
// in the backend's log and forward the 12 that the plug-in uses to it.

#include <string>
#include <vector>

#include "plugin/core/host_functions.h"

// One call of a TLA_ export, every value as text: ints in decimal, texts as
// their bytes, null pointers as kNullText.
struct HostCall {
    std::string name;
    std::vector<std::string> args;
    std::string result;    // empty for a function without one
    unsigned textArgs = 0; // bit i set: args[i] is a text (quoted when formatted)
    bool textResult = false;
};

extern const char kNullText[];

// Text form of a host-given or plug-in-given text: its bytes, or kNullText.
std::string TextOrNull(const char* text);

class CallLog {
public:
    void Record(HostCall call) { calls_.push_back(std::move(call)); }
    void SetArg(size_t call, size_t arg, std::string value) { calls_[call].args[arg] = std::move(value); }
    void SetResult(size_t call, std::string result, bool isText)
    {
        calls_[call].result = std::move(result);
        calls_[call].textResult = isText;
    }
    const std::vector<HostCall>& Calls() const { return calls_; }
    void Clear() { calls_.clear(); }
    // Names of the recorded calls, in order.
    std::vector<std::string> Names() const;
    // The calls of one function, in order.
    std::vector<HostCall> CallsOf(const std::string& name) const;
    // One line per call, e.g. TLA_GetStatus("Inbox\a.eml") = 8; texts longer
    // than maxText bytes are cut, CR and LF written as \r and \n.
    std::string Format(size_t maxText = 200) const;

private:
    std::vector<HostCall> calls_;
};

class HostBackend {
public:
    virtual ~HostBackend() = default;

    virtual int RegisterCommand(const char* helpText, int target, CommandCallback callback) = 0;
    virtual const char* GetDataFolder() = 0;
    virtual const char* GetCurrentMailBox() = 0;
    virtual int SetMessageText(HWND hWnd, const char* text) = 0;
    virtual const char* GetCurrentMail() = 0;
    virtual int SetCurrentMail(const char* mailId) = 0;
    virtual int GetNextMail(int start, char* idBuffer, int bufferSize, int flags) = 0;
    virtual int MoveSelectedMessages(const char* folder, int copy) = 0;
    virtual int GetStatus(const char* mailId) = 0;
    virtual const char* GetSource(const char* mailId) = 0;
    virtual int SetSource(const char* mailId, const char* source) = 0;
    virtual const char* GetHeader(const char* mailId) = 0;

    CallLog& Log() { return log_; }

private:
    CallLog log_;
};

// The backend that the exports forward to; null (the default) makes every
// export answer 0 or null without recording.
void SetHostBackend(HostBackend* backend);
HostBackend* GetHostBackend();

// The plug-in's 14 exports in ordinal order, ordinal 1 first.
extern const char* const kPluginExportNames[14];
