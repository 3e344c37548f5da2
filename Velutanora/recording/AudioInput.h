#pragma once

#include "recording/AudioFormat.h"

#include <QString>

#include <functional>

namespace vel {

// Called with every captured buffer of the device's format, on the audio thread.
using AudioTap = std::function<void(const AudioBuffer&)>;

// The microphone. start() installs the tap and starts capture; stop() ends capture and returns
// only once the tap will not be called again; removeTap() forgets the tap.
class AudioInput {
public:
    virtual ~AudioInput() = default;
    // The format buffers arrive in (valid before start).
    virtual AudioFormat inputFormat() const = 0;
    // Throws an Error (with a Japanese description) when capture cannot start.
    virtual void start(AudioTap tap) = 0;
    virtual void stop() = 0;
    virtual void removeTap() = 0;
    // After start(): why the device recording is not the one the user chose; empty when it is.
    virtual QString fallbackNotice() const { return {}; }
    // Set by the controller: called on the main thread when the device goes away while running.
    std::function<void()> onDeviceLost;
};

} // namespace vel
