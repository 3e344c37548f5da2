// The overhead of the dictation machinery itself: a shortcut event to the start of recording,
// and a stop to the paste call (no Gemini, a recogniser that answers at once). On simulated
// time, so only the program's own work is measured. Prints figures; never fails.
#include "BenchStore.h"
#include "BenchTimer.h"
#include "common/AsyncQueue.h"
#include "common/Clock.h"
#include "common/Logger.h"
#include "platform/HeadlessDesktop.h"
#include "dictation/DictationStack.h"
#include "dictation/HotkeyManager.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"
#include "recording/WavFileAudioInput.h"
#include "settings/AppSettings.h"
#include "settings/OverlayStore.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <chrono>
#include <cstdio>

using namespace vel;

namespace {

// Answers every dictation with one final result at once.
class InstantSession final : public RecognizerSession {
public:
    void appendAudio(const AudioBuffer&) override {}
    void finishInput() override {}
    Task<std::optional<RecognitionResult>> nextResult() override { return m_queue.next(); }
    Task<void> finalizeAndFinishThroughEndOfInput() override
    {
        m_queue.push(RecognitionResult{QStringLiteral("えーっと、今日は晴れです。明日は雨ですよね"), true});
        m_queue.finish();
        co_return;
    }

private:
    AsyncQueue<RecognitionResult> m_queue;
};

class InstantRecognizer final : public SpeechRecognizer {
public:
    Task<QStringList> supportedLocales() override { co_return QStringList{QStringLiteral("ja_JP")}; }
    Task<ModelStatus> modelStatus(QString) override { co_return ModelStatus::Installed; }
    Task<std::shared_ptr<ModelInstallation>> installationRequest(QString) override { co_return nullptr; }
    Task<std::optional<AudioFormat>> bestAudioFormat(QString) override { co_return AudioFormat::int16Mono16k(); }
    bool isAvailable() const override { return true; }
    std::shared_ptr<RecognizerSession> makeSession(const QString&, const QStringList&, const AudioFormat&) override
    {
        return std::make_shared<InstantSession>();
    }
};

class TimingInput final : public SyntheticInput {
public:
    std::chrono::steady_clock::time_point pastedAt;
    bool isAllowed() const override { return true; }
    Task<StrokeResult> sendKeyStroke(KeyChord, ApplicationRef) override
    {
        pastedAt = std::chrono::steady_clock::now();
        co_return StrokeResult{};
    }
};

// Counts the look-ups of the application in front: on X11 each one is three requests to the
// server, so an ordinary key press should cause none.
struct CountingWorkspace final : Workspace {
    mutable int lookups = 0;
    ApplicationRef frontmostApplication() const override
    {
        ++lookups;
        return nullptr;
    }
    qint64 ownProcessId() const override { return 1; }
    void addActivationObserver(std::function<void(ApplicationRef)>) override {}
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::FILE* devnull = std::fopen("/dev/null", "w");
    StreamLogger log(devnull);
    ManualClock clock;
    bench::BenchStore store;
    AppSettings settings(store);
    settings.setCorrectionMode(CorrectionMode::Instant);
    StreamPasteboard pasteboard(devnull);
    TimingInput input;
    EmptyWorkspace workspace;
    NoKeyboard keyboard;
    NoPanel panel;
    DebugLog debugLog(QStringLiteral("/nonexistent-dir/velutanora-bench.log"));
    InstantRecognizer recognizer;
    WavFileAudioInput microphone(clock, WavFile{AudioFormat::int16Mono16k(), QByteArray(16000 * 2 * 10, '\0')});
    DictationStack stack({log, clock, settings, recognizer, microphone, debugLog, pasteboard, input, workspace, panel});
    Dictation& dictation = stack.dictation;
    HotkeyManager hotkeys({log, clock, settings, dictation, keyboard});
    hotkeys.startMonitoring();
    CountingWorkspace front;
    auto lookup = [&front] { return front.frontmostApplication(); };

    using steady = std::chrono::steady_clock;
    const int rounds = 2000;
    double startTotal = 0;
    double stopTotal = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = steady::now();
        keyboard.onTapKeyDown(KeyEvent{ShortcutKey::kSpace, ShortcutKey::Alt, 1.0 + i, lookup});
        while (!stack.speech.isRecording())
            QCoreApplication::processEvents();
        startTotal += std::chrono::duration<double>(steady::now() - t0).count();
        clock.advance(0.2);

        const auto t1 = steady::now();
        keyboard.onTapKeyDown(KeyEvent{ShortcutKey::kSpace, ShortcutKey::Alt, 1.5 + i, lookup});
        while (!dictation.processingTask().isFinished())
            QCoreApplication::processEvents();
        stopTotal += std::chrono::duration<double>(input.pastedAt - t1).count();
        clock.advance(2.5);
    }
    std::printf("shortcut event to recording started: %.1f us (mean of %d)\n", startTotal / rounds * 1e6, rounds);
    std::printf("stop to paste stroke (local clean-up, no Gemini): %.1f us (mean of %d)\n", stopTotal / rounds * 1e6, rounds);

    // Someone typing: key presses that are no shortcut, as the X11 monitors deliver them.
    front.lookups = 0;
    const int presses = 100000;
    const auto t2 = steady::now();
    for (int i = 0; i < presses; ++i) {
        keyboard.onKeyDown(KeyEvent{static_cast<quint16>(i % 30), 0, 5000.0 + i * 0.01, lookup});
        keyboard.onTapKeyDown(KeyEvent{static_cast<quint16>(i % 30), 0, 5000.0 + i * 0.01, lookup});
    }
    QCoreApplication::processEvents();
    const double perPress = std::chrono::duration<double>(steady::now() - t2).count() / presses;
    std::printf("ordinary key press (no shortcut): %.2f us; front-application look-ups per press: %.2f "
                "(each is 3 X requests on X11)\n",
                perPress * 1e6, static_cast<double>(front.lookups) / presses);
    std::fclose(devnull);
    return 0;
}
