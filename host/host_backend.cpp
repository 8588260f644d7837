#include "host_backend.h"

const char kNullText[] = "(null)";

const char* const kPluginExportNames[14] = {
    "TLC_OnStart",       "TLC_OnExit",           "TLC_OnMenuInit",    "TLC_OnOpenFolder",  "TLC_OnOpenMail",
    "TLC_OnEveryMinute", "TLC_OnOpenCompose",    "TLC_OnOutgoing",    "TLC_OnKeyDispatch", "TLC_OnRetrieve",
    "TLC_OnSend",        "TLC_OnFinishRetrieve", "TLC_OnPlugInSetup", "TLC_OnPlugInInfo",
};

namespace {

HostBackend* g_backend = nullptr;

void AppendShown(std::string& out, const std::string& text, bool isText, size_t maxText)
{
    if (!isText || text == kNullText) {
        out += text;
        return;
    }
    out += '"';
    size_t shown = text.size() < maxText ? text.size() : maxText;
    for (size_t i = 0; i < shown; ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    out += '"';
    if (shown < text.size())
        out += "...(" + std::to_string(text.size()) + " bytes)";
}

} // namespace

std::string TextOrNull(const char* text)
{
    return text ? std::string(text) : std::string(kNullText);
}

std::vector<std::string> CallLog::Names() const
{
    std::vector<std::string> names;
    for (const HostCall& call : calls_)
        names.push_back(call.name);
    return names;
}

std::vector<HostCall> CallLog::CallsOf(const std::string& name) const
{
    std::vector<HostCall> found;
    for (const HostCall& call : calls_) {
        if (call.name == name)
            found.push_back(call);
    }
    return found;
}

std::string CallLog::Format(size_t maxText) const
{
    std::string out;
    for (const HostCall& call : calls_) {
        out += call.name + "(";
        for (size_t i = 0; i < call.args.size(); ++i) {
            if (i)
                out += ", ";
            AppendShown(out, call.args[i], (call.textArgs >> i) & 1u, maxText);
        }
        out += ")";
        if (!call.result.empty()) {
            out += " = ";
            AppendShown(out, call.result, call.textResult, maxText);
        }
        out += "\n";
    }
    return out;
}

void SetHostBackend(HostBackend* backend)
{
    g_backend = backend;
}

HostBackend* GetHostBackend()
{
    return g_backend;
}
