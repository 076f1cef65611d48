#include "host/MessageService.h"

#include "host/MessageCatalogue.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <nlohmann/json.hpp>

namespace zul::host {

using com::Variant;
using Json = nlohmann::json;

MessagePresenter::~MessagePresenter() = default;

void HeadlessPresenter::display(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool HeadlessPresenter::confirm(const std::string& title, const std::string& text)
{
    std::fprintf(stderr, "%s: %s [%s]\n", title.c_str(), text.c_str(), m_answerYes ? "yes" : "no");
    return m_answerYes;
}

MessageCall parseMessageCall(const com::Args& args)
{
    const auto bad = [] { return com::ComError(5, "Invalid procedure call or argument"); };
    if (args.size() < 3 || args[0].kind() != Variant::Kind::Boolean)
        throw bad();
    MessageCall call;
    call.answerWanted = args[0].asBool();
    std::size_t i = 1;
    if (args[i].kind() == Variant::Kind::Text) {
        call.text = args[i].asText();
        ++i;
    } else {
        while (i < args.size() && args[i].isNumber()) {
            call.numbers.push_back(args[i].kind() == Variant::Kind::Int16 ? args[i].asInt16() : args[i].asInt32());
            ++i;
        }
        if (call.numbers.empty())
            throw bad();
    }
    if (i >= args.size() || args[i].kind() != Variant::Kind::Text)
        throw bad();
    call.kind = args[i].asText();
    call.rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    return call;
}

namespace {

// The arguments that fill the placeholders of the texts, by kind.
std::vector<std::string> placeholderArgs(const MessageCall& call)
{
    std::vector<std::string> out;
    std::size_t from = call.kind == "C" ? 2 : 0; // "C": buttons and title come first
    for (std::size_t i = from; i < call.rest.size(); ++i)
        out.push_back(platform::utf8FromCodePage(call.rest[i].toText()));
    return out;
}

Json typed(const Variant& v)
{
    Json o = Json::object();
    o["type"] = Variant::kindName(v.kind());
    switch (v.kind()) {
    case Variant::Kind::Empty:
        o["value"] = nullptr;
        break;
    case Variant::Kind::Boolean:
        o["value"] = v.asBool();
        break;
    case Variant::Kind::Int16:
        o["value"] = v.asInt16();
        break;
    case Variant::Kind::Int32:
        o["value"] = v.asInt32();
        break;
    case Variant::Kind::Text:
        o["value"] = platform::utf8FromCodePage(v.asText());
        break;
    }
    return o;
}

} // namespace

namespace {
// Every occurrence of what in text, left to right; what is put in is not searched again.
void replaceAll(std::string& text, const std::string& what, const std::string& with)
{
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}
} // namespace

std::string composeMessage(const MessageCall& call)
{
    std::vector<std::string> lines;
    const auto args = placeholderArgs(call);
    if (call.text) {
        lines.push_back(platform::utf8FromCodePage(*call.text));
    } else {
        for (int n : call.numbers) {
            std::string t = messageText(n);
            if (t.empty())
                t = "Message " + std::to_string(n);
            for (std::size_t k = 0; k < args.size() && t.find('%') != std::string::npos; ++k)
                replaceAll(t, "%" + std::to_string(k + 1), args[k]);
            lines.push_back(t);
        }
    }
    if (call.kind == "D") {
        lines.insert(lines.end(), args.begin(), args.end());
    } else if (call.kind == "L" && call.rest.size() > 6) {
        lines.push_back(args.back());
    }
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i)
        joined += (i ? "\n" : "") + lines[i];
    return joined;
}

namespace {
// The local time in seconds, as the log has always written it.
std::string now()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// One entry, one line, written whole: the log is opened for appending, so
// lines of several processes do not mix. Never through a link, owner-only
// whatever the umask.
void appendEntry(const std::string& logPath, const Json& entry)
{
    const std::string line = entry.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
    if (auto fd = platform::openNoFollow(logPath, O_WRONLY | O_APPEND | O_CREAT, 0600))
        platform::writeAllTo(fd->get(), line, logPath); // a log that cannot be written does not stop the run
}
} // namespace

void appendNote(const std::string& logPath, const std::string& text)
{
    std::fprintf(stderr, "qorvhost: %s\n", text.c_str());
    Json entry = Json::object();
    entry["at"] = now();
    entry["kind"] = "N";
    entry["message"] = text;
    appendEntry(logPath, entry);
}

MessageService::MessageService(std::string logPath, std::shared_ptr<MessagePresenter> presenter)
    : m_logPath(std::move(logPath)), m_presenter(std::move(presenter))
{
}

Variant MessageService::HandleMessages(const com::Args& args)
{
    const MessageCall call = parseMessageCall(args);
    const std::string message = composeMessage(call);
    Variant reply;
    if (call.kind == "C") {
        const std::string title =
            call.rest.size() > 1 ? platform::utf8FromCodePage(call.rest[1].toText()) : std::string();
        reply = m_presenter ? m_presenter->confirm(title, message) : false;
    } else if (call.kind == "D") {
        if (m_presenter)
            m_presenter->display(message);
    }
    append(args, call, message, reply);
    return reply;
}

void MessageService::append(const com::Args& args, const MessageCall& call, const std::string& message,
                            const Variant& reply)
{
    Json entry = Json::object();
    entry["at"] = now();
    entry["kind"] = call.kind;
    entry["numbers"] = call.numbers;
    Json all = Json::array();
    for (const auto& a : args)
        all.push_back(typed(a));
    entry["args"] = all;
    entry["message"] = message;
    if (!reply.isEmpty())
        entry["reply"] = typed(reply);
    appendEntry(m_logPath, entry);
}

} // namespace zul::host
