#pragma once

#include "desktop/DesktopSeams.h"

namespace vel {

class X11Connection;

// Key strokes through the XTEST extension. Keys the user still holds (Alt from Alt+Space)
// would combine with the stroke in the X server, so they are waited for briefly and released
// synthetically if they stay down.
class X11SyntheticInput final : public SyntheticInput {
public:
    static constexpr int kHeldKeyWaitMs = 250;

    explicit X11SyntheticInput(X11Connection& connection);
    bool isAllowed() const override { return m_xtest; }
    void postKeyStroke(const KeyChord& chord, const ApplicationRef& target) override;

private:
    QList<unsigned> heldModifierKeycodes() const;
    X11Connection& m_connection;
    bool m_xtest = false;
};

} // namespace vel
