#pragma once

#include "store/prompter.h"

class QWidget;

namespace quorvel {

// Shows each message as a modal QMessageBox on the UI thread.
class MessageBoxPrompter : public Prompter {
public:
    // parent: the window the boxes belong to; may be null.
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    // Blocks in a nested event loop until the user answers; closing the box answers Cancel
    // (or Ok for a box that has only OK).
    MessageAnswer prompt(const Message& message) override;

private:
    QWidget* m_parent;
};

} // namespace quorvel
