#pragma once

#include "dictation/KeyboardMonitor.h"
#include "dictation/Pasteboard.h"
#include "dictation/RecordingPanelControl.h"
#include "dictation/SyntheticInput.h"

#include <QCoreApplication>

#include <cstdio>
#include <functional>

namespace vel {

// The null backends: the desktop of the command-line modes (results go to a stream instead of
// the clipboard; no window, no keyboard, no panel), and what a desktop that cannot give a
// capability gets in its place, saying why.
class StreamPasteboard final : public Pasteboard {
public:
    explicit StreamPasteboard(std::FILE* stream) : m_stream(stream) {}
    Task<QString> setText(QString text) override
    {
        const QByteArray bytes = text.toUtf8() + '\n';
        const bool written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_stream)
                                 == static_cast<size_t>(bytes.size());
        if (std::fflush(m_stream) != 0 || !written)
            co_return QStringLiteral("結果を書き出せませんでした");
        co_return QString();
    }

private:
    std::FILE* m_stream;
};

// Strokes are allowed and go nowhere: the "paste" already happened on the stream.
class NoSyntheticInput final : public SyntheticInput {
public:
    bool isAllowed() const override { return true; }
    Task<StrokeResult> sendKeyStroke(KeyChord, ApplicationRef) override { co_return StrokeResult{}; }
};

class EmptyWorkspace final : public Workspace {
public:
    ApplicationRef frontmostApplication() const override { return nullptr; }
    qint64 ownProcessId() const override { return QCoreApplication::applicationPid(); }
    void addActivationObserver(std::function<void(ApplicationRef)>) override {}
};

// Nothing to grab: the command line reads no keys, and a Wayland compositor binds the
// shortcuts to the program's commands itself.
class NoKeyboard final : public KeyboardMonitor {
public:
    bool installTap() override { return true; }
    void startMonitors() override {}
    bool isKeyDown(quint32) const override { return false; }
    QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>&) override { return {}; }
};

class NoPanel final : public RecordingPanelControl {
public:
    void show() override {}
    void hideImmediately() override {}
    void showFailure(const QString&) override {}
    void showOutcome(const DictationOutcome&) override {}
};

class UnavailableKeyboard final : public KeyboardMonitor {
public:
    bool installTap() override { return false; }
    void startMonitors() override {}
    bool isKeyDown(quint32) const override { return false; }
    QList<ShortcutKey> setSwallowedShortcuts(const QList<ShortcutKey>& shortcuts) override { return shortcuts; }
};

class UnavailableInput final : public SyntheticInput {
public:
    explicit UnavailableInput(QString reason) : m_reason(std::move(reason)) {}
    bool isAllowed() const override { return false; }
    Task<StrokeResult> prepare() override { co_return StrokeResult::unavailable(m_reason); }
    Task<StrokeResult> sendKeyStroke(KeyChord, ApplicationRef) override { co_return StrokeResult::unavailable(m_reason); }

private:
    QString m_reason;
};

// Where the clipboard cannot be set without a focused window of this program (a Wayland
// compositor without data-control, such as mutter): Qt's clipboard would fail silently.
class UnreachablePasteboard final : public Pasteboard {
public:
    Task<QString> setText(QString) override { co_return QStringLiteral("このデスクトップではクリップボードに入れられません"); }
};

} // namespace vel
