#pragma once

#include "common/Task.h"

#include <QString>

namespace vel {

// The system clipboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Replaces the contents with the text (the previous contents are not kept). Ends with why
    // the clipboard did not take it, in words for the user; empty when it did. A desktop that
    // is asked over the bus answers later, so the caller never blocks the main loop on it.
    virtual Task<QString> setText(QString text) = 0;
};

} // namespace vel
