#pragma once

#include "dictation/KeyboardMonitor.h"
#include "dictation/Pasteboard.h"
#include "dictation/RecordingPanelControl.h"
#include "dictation/SyntheticInput.h"

#include <QList>
#include <QStringList>

#include <set>

namespace vel::test {

class FakePasteboard final : public Pasteboard {
public:
    QStringList texts;
    QString refusal; // why it takes nothing; empty: it takes every text
    Task<QString> setText(QString text) override
    {
        if (refusal.isEmpty())
            texts.append(text);
        co_return refusal;
    }
};

struct Stroke {
    KeyChord chord;
    ApplicationRef target;
};

// Refuses the desktop's permission (prepare) and the stroke itself separately.
class FakeSyntheticInput final : public SyntheticInput {
public:
    bool allowed = true;    // strokes go out
    bool permitted = true;  // the desktop grants them (prepare)
    QString refusal = QStringLiteral("キー入力が許可されませんでした");
    QList<Stroke> strokes;
    bool isAllowed() const override { return allowed && permitted; }
    Task<StrokeResult> prepare() override
    {
        co_return permitted ? StrokeResult{} : StrokeResult::refused(QStringLiteral("デスクトップが操作を許可しませんでした"));
    }
    Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) override
    {
        if (!allowed)
            co_return StrokeResult::refused(refusal);
        strokes.append({chord, target});
        co_return StrokeResult{};
    }
    int count(quint32 keysym) const
    {
        int n = 0;
        for (const Stroke& s : strokes)
            n += s.chord.keysym == keysym;
        return n;
    }
};

class FakePanel final : public RecordingPanelControl {
public:
    QStringList calls;
    void show() override { calls.append(QStringLiteral("show")); }
    void hideImmediately() override { calls.append(QStringLiteral("hideImmediately")); }
    void showFailure(const QString& status) override { calls.append(QStringLiteral("showFailure ") + status); }
    void showOutcome(const DictationOutcome& outcome) override { calls.append(QStringLiteral("showOutcome ") + outcome.status); }
    void showCancelled() override { calls.append(QStringLiteral("showCancelled")); }
};

// A keyboard the test types on: it records what it was asked to swallow.
class FakeKeyboard final : public KeyboardMonitor {
public:
    bool tapInstallable = true;
    std::set<quint32> held;
    QList<ShortcutKey> conflicting;        // shortcuts another program owns
    QList<QList<ShortcutKey>> grabHistory; // every set asked for
    double time = 100.0;
    int frontmostLookups = 0; // how often a handler asked which application is in front

    bool installTap() override { return tapInstallable; }
    void startMonitors() override {}
    bool isKeyDown(quint32 keysym) const override { return held.count(keysym) > 0; }
    QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts) override
    {
        grabHistory.append(shortcuts);
        QList<ShortcutKey> failed;
        for (const ShortcutKey& k : shortcuts) {
            if (conflicting.contains(k))
                failed.append(k);
        }
        return failed;
    }
    QList<ShortcutKey> swallowedNow() const { return grabHistory.isEmpty() ? QList<ShortcutKey>{} : grabHistory.last(); }

    // A key press as the backend reports it: first to the tap (if it is swallowed it goes no
    // further), then to the monitors. Returns whether it was swallowed.
    bool press(quint32 keysym, quint8 modifiers, const ApplicationRef& frontmost = nullptr)
    {
        time += 0.1;
        const KeyEvent e{keysym, modifiers, time, lookup(frontmost)};
        if (onTapKeyDown && onTapKeyDown(e))
            return true;
        if (onKeyDown)
            onKeyDown(e);
        return false;
    }
    // A modifier key going down or up; modifiersAfter are those held after the change.
    void modifier(quint32 keysym, bool down, quint8 modifiersAfter, const ApplicationRef& frontmost = nullptr)
    {
        time += 0.1;
        if (down)
            held.insert(keysym);
        else
            held.erase(keysym);
        if (onFlagsChanged)
            onFlagsChanged(KeyEvent{keysym, modifiersAfter, time, lookup(frontmost)});
    }
    std::function<ApplicationRef()> lookup(const ApplicationRef& frontmost)
    {
        return [this, frontmost] {
            ++frontmostLookups;
            return frontmost;
        };
    }
    // A release whose press nobody saw (a phantom), at a given time step.
    void phantomRelease(quint32 keysym, double step = 0.1)
    {
        time += step;
        held.erase(keysym);
        if (onFlagsChanged)
            onFlagsChanged(KeyEvent{keysym, 0, time, {}});
    }
};

} // namespace vel::test
