#pragma once

#include <QString>

namespace vel {

// The system clipboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Replaces the contents with the text (the previous contents are not kept). Returns why
    // the clipboard did not take it, in words for the user; empty when it did.
    virtual QString setText(const QString& text) = 0;
};

} // namespace vel
