#pragma once

#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "dictation/DictationStack.h"
#include "dictation/HotkeyManager.h"
#include "platform/DesktopBackend.h"
#include "recording/DebugLog.h"
#include "recording/WavFileAudioInput.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"
#include "support/FakeDesktop.h"
#include "support/FakeGeminiServer.h"
#include "support/Files.h"
#include "support/MemoryStore.h"
#include "support/ScriptedRecognizer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace vel::test {

// What another Wayland client reads from the clipboard. This process serves it, so its loop keeps running.
inline QString waylandClipboard()
{
    QProcess p;
    p.start(QStringLiteral("wl-paste"), {"--no-newline"});
    for (int i = 0; i < 500 && p.state() != QProcess::NotRunning; ++i)
        QTest::qWait(10);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The real desktop backends of the session the test runs in, with the rest of the program over
// fakes, on real time.
struct DesktopRig {
    explicit DesktopRig(const QByteArray& microphone = QByteArray(32000 * 120, '\0'))
        : backend(DesktopBackend::create(log, clock)), debugLog(dir.path() + "/debug.log"),
          input(clock, WavFile{AudioFormat::int16Mono16k(), microphone}), settings(store), history(store, clock),
          usage(store), gemini(log, clock, [this] { return server.baseUrl(); }),
          stack({log, clock, settings, recognizer, input, debugLog, *backend.pasteboard, *backend.input,
                 *backend.workspace, panel, &gemini, &usage, &history}),
          hotkeys({log, clock, settings, dictation, *backend.keyboard, backend.shortcuts.get()})
    {
        server.listen();
        settings.setGeminiApiKey(QStringLiteral("desktop-test-key"));
        dictation.workspaceMonitor().startTracking();
    }

    QTemporaryDir dir;
    RecordingLogger log;
    SystemClock clock;
    DesktopBackend backend;
    ScriptedRecognizer recognizer;
    DebugLog debugLog;
    WavFileAudioInput input;
    MemoryStore store;
    AppSettings settings;
    RecordingHistory history;
    UsageTracker usage;
    FakeGeminiServer server;
    GeminiService gemini;
    FakePanel panel;
    DictationStack stack;
    SpeechManager& speech = stack.speech;
    Dictation& dictation = stack.dictation;
    HotkeyManager hotkeys;
};

// The target application, which records what reaches it. `name` is its window class on X11
// and its app_id on Wayland (a terminal's, to be pasted into as one).
struct Target {
    QProcess process;
    QString out;
    Target(const QString& dir, const QString& platform, const QString& name = {})
    {
        out = dir + "/target.txt";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", platform);
        if (!name.isEmpty())
            env.insert("RESOURCE_NAME", name);
        process.setProcessEnvironment(env);
        QStringList args{"--out", out};
        if (!name.isEmpty())
            args << "--app-id" << name;
        process.start(qEnvironmentVariable("VELUTANORA_TARGET_EDITOR", QStringLiteral(TARGET_EDITOR)), args);
        process.waitForStarted();
    }
    ~Target()
    {
        process.kill();
        process.waitForFinished();
    }
    QString text() const { return QString::fromUtf8(readFile(out)); }
    QStringList keys() const { return QString::fromUtf8(readFile(out + ".keys")).split('\n', Qt::SkipEmptyParts); }
};

} // namespace vel::test
