#pragma once

#include "com/HostComponents.h"
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zul::host {

// How the host shows a message and asks a question: a message box in the
// GUI, standard error and a fixed answer headless. Texts are UTF-8.
class MessagePresenter {
public:
    virtual ~MessagePresenter();
    virtual void display(const std::string& text) = 0;
    virtual bool confirm(const std::string& title, const std::string& text) = 0;
};

class HeadlessPresenter : public MessagePresenter {
public:
    explicit HeadlessPresenter(bool answerYes) : m_answerYes(answerYes) {}
    void display(const std::string& text) override;
    bool confirm(const std::string& title, const std::string& text) override;

private:
    bool m_answerYes;
};

// A HandleMessages call taken apart: the answer flag, the numbers or the one
// text, the kind letter and what follows it.
struct MessageCall {
    bool answerWanted = false;
    std::vector<int> numbers;
    std::optional<std::string> text;
    std::string kind;
    com::Args rest;
};

// Fails with ComError 5 when the arguments do not have a known shape.
MessageCall parseMessageCall(const com::Args& args);

// The text a person reads for a call: the numbers' texts (with %1, %2 ... taken
// from the further arguments) or the passed text, then any further text; in
// UTF-8.
std::string composeMessage(const MessageCall& call);

// Appends a note of the plug-in's own (not a message of the service) to the
// log, kind "N", and shows it on standard error.
void appendNote(const std::string& logPath, const std::string& text);

// QorvUtil.ErrorMessages: shows, asks and logs. Every call is appended to
// messages.jsonl with its kind, numbers and typed arguments.
class MessageService : public com::IErrorMessages {
public:
    MessageService(std::string logPath, std::shared_ptr<MessagePresenter> presenter);
    com::Variant HandleMessages(const com::Args& args) override;

private:
    void append(const com::Args& args, const MessageCall& call, const std::string& message, const com::Variant& reply);

    std::string m_logPath;
    std::shared_ptr<MessagePresenter> m_presenter;
};

} // namespace zul::host
