#pragma once

#include <QString>

namespace vel {

// Desktop notifications, for what the user must see when the panel cannot show it.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& text) = 0;
};

} // namespace vel
