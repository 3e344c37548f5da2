#pragma once

#include "support/DesktopRig.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace vel::test {

// A window that records what reaches it: the text in `out`, and the keys in `out`.keys where
// it is the target editor (a real terminal records only its text).
struct Window {
    QString appId;
    QString out;
    bool recordsKeys = true;
    std::shared_ptr<void> owner; // keeps its process running

    QString text() const { return QString::fromUtf8(readFile(out)); }
    QStringList keys() const { return QString::fromUtf8(readFile(out + ".keys")).split('\n', Qt::SkipEmptyParts); }
};

// The dictation as a user meets it, the same on every desktop the suite starts: the shortcut,
// speech, the fake Gemini's answer, the paste into an editor and into a terminal with the focus
// kept, the cancel key taken only while busy, and continuous mode with Return. Each desktop's
// test class derives from this and says how its user presses the keys and what it can do; the
// scenarios run as its own test functions.
class DesktopScenarios : public QObject {
    Q_OBJECT
protected:
    // Starts what the rig needs on this desktop (monitoring, the bound shortcuts).
    virtual void prepare(DesktopRig& rig) = 0;
    virtual void pressToggle(DesktopRig& rig) = 0;
    virtual void pressCancel(DesktopRig& rig) = 0;
    // Opens the target editor under this app id (its window class on X11).
    virtual Window openEditor(const QString& dir, const QString& appId);
    // A terminal window: by default the editor under a terminal's app id.
    virtual Window openTerminal(const QString& dir) { return openEditor(dir, QStringLiteral("foot")); }
    virtual bool isInFront(DesktopRig& rig, const Window& window);
    // Whether the cancel key reaches the window now (the program does not hold it).
    virtual bool cancelKeyReaches(DesktopRig& rig, const Window& window) = 0;
    // Why a scenario cannot run on this desktop, or nothing.
    virtual QString cannotTellTerminals() const { return {}; }
    virtual QString cannotBringTheTargetBack() const { return {}; }
    virtual QString cannotTypeTheCancelKey() const { return {}; }
    virtual QString cannotPaste() const { return {}; }
    // Where the panel is a layer-shell surface of the program's own; elsewhere it is a Qt window.
    virtual QString cannotShowALayerShellPanel() const { return {}; }
    virtual QString platform() const { return QStringLiteral("wayland"); }
    // Presses the key the given way and waits a while for one more Esc in the window's key log.
    static bool escapeArrives(const Window& window, const std::function<void()>& press);
    // What another application reads from the clipboard, where the test can ask.
    virtual std::optional<QString> clipboardText() { return std::nullopt; }

private slots:
    void aDictationIsPastedIntoTheWindowInFront_data();
    void aDictationIsPastedIntoTheWindowInFront();
    void theCancelKeyIsTakenOnlyWhileBusy();
    void continuousModePastesAndPressesReturn();
    void thePanelLeavesTheFocusWithTheTarget();
};

} // namespace vel::test
