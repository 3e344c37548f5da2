#pragma once

// Another X client that owns a key combination (for the grab-conflict test).
class OtherGrabber {
public:
    // Grabs Alt+Space on the root window of $DISPLAY; false if it could not.
    bool grabAltSpace();
    ~OtherGrabber();

private:
    void* m_display = nullptr;
};
