#pragma once

#include "dictation/SyntheticInput.h"

namespace vel {

class Clock;
class X11Connection;

// Key strokes through the XTEST extension. Keys the user still holds (Alt from Alt+Space)
// would combine with the stroke in the X server, so they are waited for briefly (through the
// clock: the main loop runs on) and released synthetically if they stay down.
class X11SyntheticInput final : public SyntheticInput {
public:
    static constexpr double kHeldKeyWaitSeconds = 0.25;

    X11SyntheticInput(X11Connection& connection, Clock& clock);
    bool isAllowed() const override { return m_xtest; }
    Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) override;

private:
    QList<unsigned> heldModifierKeycodes() const;
    X11Connection& m_connection;
    Clock& m_clock;
    bool m_xtest = false;
};

} // namespace vel
