#pragma once

#include <QString>

namespace quorvel {

enum class MessageIcon { None, Exclamation, Information, Critical };
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

// One message box: its caption, text, buttons and icon.
struct Message {
    QString title;
    QString text;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

// Every message box of the program goes through a Prompter, so windows show them and tests
// answer them.
class Prompter {
public:
    virtual ~Prompter() = default;
    // Shows the message, waits for the user and returns the button picked.
    virtual MessageAnswer prompt(const Message& message) = 0;
};

} // namespace quorvel
