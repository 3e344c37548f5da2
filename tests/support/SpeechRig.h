#pragma once

#include "common/Clock.h"
#include "common/Logger.h"
#include "common/Task.h"
#include "recording/DebugLog.h"
#include "recording/ModelCheck.h"
#include "recording/SpeechManager.h"
#include "recording/WavFileAudioInput.h"
#include "support/FakeWorkspace.h"
#include "support/Outcome.h"
#include "support/ScriptedRecognizer.h"

#include <QTemporaryDir>

#include <memory>

namespace vel::test {

inline QString testdata(const QString& name) { return QStringLiteral(VELUTANORA_TESTDATA "/") + name; }

// A SpeechManager on simulated time with a scripted recogniser, a fake workspace and a WAV file
// as the microphone (digital silence unless a file is given).
struct SpeechRig {
    explicit SpeechRig(const QString& wavPath = {}, double silenceSeconds = 60)
        : debugLog(dir.path() + QStringLiteral("/velutanora_debug.log")),
          input(clock, wavPath.isEmpty() ? silence(silenceSeconds) : WavFile::read(wavPath)),
          modelCheck(recognizer), speech(log, clock, recognizer, input, debugLog, LinearConverter::factory(), &modelCheck)
    {
    }

    static WavFile silence(double seconds)
    {
        const AudioFormat f = AudioFormat::int16Mono16k();
        return WavFile{f, QByteArray(static_cast<qsizetype>(seconds * f.sampleRate) * 2, '\0')};
    }

    // Runs a task until it ends (or a simulated minute passes), advancing time in small steps.
    Outcome run(Task<void> task, double stepSeconds = 0.01)
    {
        Outcome outcome;
        spawn(&speech, captureOutcome(std::move(task), outcome));
        ManualClock::drainPostedWork();
        for (int i = 0; i < 6000 && !outcome.done; ++i)
            clock.advance(stepSeconds);
        return outcome;
    }
    Outcome start(bool needsGeminiAudio = false, const QStringList& strings = {})
    {
        return run(speech.startRecording(needsGeminiAudio, strings));
    }
    Outcome stop(bool waitForSpeech = true) { return run(speech.stopRecording(waitForSpeech)); }

    QTemporaryDir dir;
    RecordingLogger log;
    ManualClock clock;
    ScriptedRecognizer recognizer;
    FakeWorkspace workspace;
    DebugLog debugLog;
    WavFileAudioInput input;
    ModelCheck modelCheck;
    SpeechManager speech;
};

} // namespace vel::test
