#pragma once

#include "dictation/DictationOutcome.h"

#include <QString>

namespace vel {

// What dictation control asks of the floating panel.
class RecordingPanelControl {
public:
    virtual ~RecordingPanelControl() = default;
    virtual void show() = 0;
    virtual void hideImmediately() = 0;
    // A dictation could not start: the reason is shown for a while instead of a panel that
    // vanishes at once.
    virtual void showFailure(const QString& status) = 0;
    // A processed dictation ended (pasted, or kept with the reason): the confirmation where the
    // panel shows, else a notification of what the user must know.
    virtual void showOutcome(const DictationOutcome& outcome) = 0;
    // A cancel: the panel says so for a moment instead of vanishing.
    virtual void showCancelled() { hideImmediately(); }
};

} // namespace vel
