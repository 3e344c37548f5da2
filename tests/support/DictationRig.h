#pragma once

#include "correction/GeminiService.h"
#include "dictation/Dictation.h"
#include "dictation/HotkeyManager.h"
#include "dictation/PasteService.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"
#include "support/FakeDesktop.h"
#include "support/FakeGeminiServer.h"
#include "support/MemoryStore.h"
#include "support/SpeechRig.h"

#include <QTest>

namespace vel::test {

// The whole dictation on simulated time: SpeechManager, pipeline, paste service and shortcut
// handling over fakes, with a fake Gemini server on 127.0.0.1. Simulated time stands still
// while a Gemini request is on its way.
struct DictationRig : SpeechRig {
    explicit DictationRig(const QString& wavPath = {})
        : SpeechRig(wavPath, 120), settings(store), history(store, clock), usage(store),
          gemini(log, clock, [this] { return server.baseUrl(); }),
          paste(log, clock, pasteboard, synthetic),
          dictation({log, clock, speech, settings, &usage, &history, panel, &gemini, &paste, workspace, synthetic}),
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
    Outcome run(Task<void> task)
    {
        Outcome outcome;
        spawn(&dictation, captureOutcome(std::move(task), outcome));
        for (int i = 0; i < 20000 && !outcome.done; ++i)
            advance(0.01);
        return outcome;
    }
    // Processes the stopped dictation to its end and returns what became of it.
    DictationOutcome process()
    {
        ValueOutcome<DictationOutcome> outcome;
        spawn(&dictation, captureOutcome(dictation.process(), outcome));
        for (int i = 0; i < 20000 && !outcome.done; ++i)
            advance(0.01);
        return outcome.result.value_or(DictationOutcome{});
    }
    void useGemini(CorrectionMode mode = CorrectionMode::Fast)
    {
        settings.setGeminiApiKey(QStringLiteral("test-key"));
        settings.setCorrectionMode(mode);
    }

    MemoryStore store;
    AppSettings settings;
    RecordingHistory history;
    UsageTracker usage;
    FakeGeminiServer server;
    GeminiService gemini;
    FakePasteboard pasteboard;
    FakeSyntheticInput synthetic;
    PasteService paste;
    FakePanel panel;
    FakeKeyboard keyboard;
    Dictation dictation;
    HotkeyManager hotkeys;
};

} // namespace vel::test
