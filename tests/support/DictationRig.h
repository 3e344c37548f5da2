#pragma once

#include "common/Clock.h"
#include "common/Logger.h"
#include "correction/GeminiService.h"
#include "dictation/DictationStack.h"
#include "dictation/HotkeyManager.h"
#include "recording/DebugLog.h"
#include "recording/KeptAudio.h"
#include "recording/ModelCheck.h"
#include "recording/WavFileAudioInput.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"
#include "support/FakeDesktop.h"
#include "support/FakeGeminiServer.h"
#include "support/FakeWorkspace.h"
#include "support/Files.h"
#include "support/MemoryStore.h"
#include "support/Outcome.h"
#include "support/ScriptedRecognizer.h"

#include <QTemporaryDir>
#include <QTest>

namespace vel::test {

inline WavFile silenceWav(double seconds)
{
    const AudioFormat f = AudioFormat::int16Mono16k();
    return WavFile{f, QByteArray(static_cast<qsizetype>(seconds * f.sampleRate) * 2, '\0')};
}

// The whole dictation on simulated time, over fakes: a scripted recogniser, a WAV file as the
// microphone (digital silence unless a file is given), a fake workspace and keyboard, and a fake
// Gemini server on 127.0.0.1. Simulated time stands still while a Gemini request is on its way.
struct DictationRig {
    explicit DictationRig(const QString& wavPath = {}, double silenceSeconds = 120)
        : debugLog(dir.path() + QStringLiteral("/velutanora_debug.log")),
          input(clock, wavPath.isEmpty() ? silenceWav(silenceSeconds) : WavFile::read(wavPath)), modelCheck(recognizer),
          settings(store), history(store, clock), usage(store), gemini(log, clock, [this] { return server.baseUrl(); }),
          kept(dir.path() + QStringLiteral("/kept")),
          stack({log, clock, settings, recognizer, input, debugLog, pasteboard, synthetic, workspace, panel, &gemini, &usage,
                 &history, LinearConverter::factory(), &modelCheck, &kept}),
          hotkeys({log, clock, settings, dictation, keyboard})
    {
        server.listen();
    }

    // Moves simulated time on by `seconds`, in 10 ms steps, waiting for the network as needed.
    void advance(double seconds)
    {
        const double end = clock.now() + seconds;
        int guard = 0;
        while (clock.now() < end - 1e-9 && guard++ < 200000) {
            if (gemini.hasRequestsInFlight()) {
                QTest::qWait(2);
                continue;
            }
            clock.advance(std::min(0.01, end - clock.now()));
        }
        settle();
    }
    // Lets queued work and outstanding requests finish without moving time.
    void settle()
    {
        for (int i = 0; i < 5000; ++i) {
            ManualClock::drainPostedWork();
            if (!gemini.hasRequestsInFlight())
                return;
            QTest::qWait(2);
        }
    }
    // Runs a task until it ends (or simulated minutes pass).
    template <class T>
    OutcomeOf<T> run(Task<T> task)
    {
        const auto outcome = spawnCaptured(&dictation, std::move(task));
        settle();
        for (int i = 0; i < 20000 && !outcome->done; ++i)
            advance(0.01);
        return *outcome;
    }
    Outcome start(bool needsGeminiAudio = false, const QStringList& strings = {})
    {
        return run(speech.startRecording(needsGeminiAudio, strings));
    }
    Outcome stop(bool waitForSpeech = true) { return run(speech.stopRecording(waitForSpeech)); }
    // Processes the stopped dictation to its end and returns what became of it.
    DictationOutcome process() { return run(dictation.process()).result.value_or(DictationOutcome{}); }
    void useGemini(CorrectionMode mode = CorrectionMode::Fast)
    {
        settings.setGeminiApiKey(QStringLiteral("test-key"));
        settings.setCorrectionMode(mode);
    }

    QTemporaryDir dir;
    RecordingLogger log;
    ManualClock clock;
    ScriptedRecognizer recognizer;
    FakeWorkspace workspace;
    DebugLog debugLog;
    WavFileAudioInput input;
    ModelCheck modelCheck;
    MemoryStore store;
    AppSettings settings;
    RecordingHistory history;
    UsageTracker usage;
    FakeGeminiServer server;
    GeminiService gemini;
    FakePasteboard pasteboard;
    FakeSyntheticInput synthetic;
    FakePanel panel;
    FakeKeyboard keyboard;
    KeptAudio kept;
    DictationStack stack;
    SpeechManager& speech = stack.speech;
    PasteService& paste = stack.paste;
    Dictation& dictation = stack.dictation;
    HotkeyManager hotkeys;
};

} // namespace vel::test
