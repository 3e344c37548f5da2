#pragma once

#include "audio/LocalRecognizer.h"
#include "audio/ModelManager.h"
#include "common/Clock.h"
#include "common/Logger.h"
#include "recording/DebugLog.h"
#include "recording/SpeechManager.h"
#include "recording/WavFileAudioInput.h"
#include "settings/AppSettings.h"
#include "support/FakeGeminiServer.h"
#include "support/Files.h"
#include "support/MemoryStore.h"
#include "support/Outcome.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>

namespace vel::test {

// The card's models as the program holds them, each in its engine process: libvosk's stand-in
// for the Vosk ones, the given libsherpa-onnx (or none) for the others, a model server, the card's
// controls, and a recorder over whichever model is in use with the given PCM as its microphone.
struct ModelRig {
    explicit ModelRig(const QString& chosen = QStringLiteral("small"), const QString& sherpa = {},
                      const QByteArray& microphone = {})
        : input(clock, WavFile{AudioFormat::int16Mono16k(), microphone})
    {
        server.listen();
        store.setString("recognizer_model", chosen);
        store.setString("recognizer_model_dir", models + "/vosk-model-small-ja-0.22");
        store.setString("recognizer_model_url", server.baseUrl() + "/models/vosk-model-small-ja-0.22.zip");
        recognizer = makeChosenRecognizer(log, settings, network,
                                          EngineSources{QStringLiteral(VELUTANORA_ENGINE_BINARY), QStringLiteral(VOSK_STUB_LIBRARY),
                                                        sherpa.isEmpty() ? QStringLiteral("/nonexistent/in-this-test.so") : sherpa});
        card = std::make_unique<ModelManager>(log, settings, *recognizer);
        speech = std::make_unique<SpeechManager>(log, clock, *recognizer, input, debugLog);
        QObject::connect(card.get(), &ModelControl::stateChanged, [this] {
            if (phases.isEmpty() || phases.last() != card->state().phase)
                phases.append(card->state().phase);
        });
    }
    // A dictation of `seconds` through the model in use, and its final text (empty when it failed).
    QString dictate(double seconds)
    {
        awaited(speech->startRecording(false, {}));
        clock.advance(seconds);
        awaited(speech->stopRecording(true));
        return speech->transcribedText();
    }
    ModelRecognizer* chosen() const { return recognizer->chosen().recognizer.get(); }
    ModelRecognizer* small() const { return recognizer->entries().front().recognizer.get(); }
    void installSmall() const { writeFile(models + "/vosk-model-small-ja-0.22/stub-model", ""); }
    // No download or installation under way.
    bool settled() const
    {
        const ModelState::Phase p = card->state().phase;
        return !chosen()->installer() && p != ModelState::Phase::Downloading && p != ModelState::Phase::Installing;
    }

    QTemporaryDir dir;
    const QString models = dir.path() + "/models";
    RecordingLogger log;
    ManualClock clock;
    QNetworkAccessManager network;
    FakeGeminiServer server;
    MemoryStore store;
    AppSettings settings{store};
    DebugLog debugLog{dir.path() + "/debug.log"};
    WavFileAudioInput input;
    std::unique_ptr<ChosenRecognizer> recognizer;
    std::unique_ptr<ModelManager> card;
    std::unique_ptr<SpeechManager> speech;
    QList<ModelState::Phase> phases; // each phase the card went through
};

} // namespace vel::test
