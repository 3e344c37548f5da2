#pragma once

#include "dictation/Dictation.h"
#include "dictation/PasteService.h"
#include "recording/AudioConverter.h"
#include "recording/SpeechManager.h"

namespace vel {

class AudioInput;
class DebugLog;
class KeptAudio;
class ModelCheck;
class Pasteboard;
class SpeechRecognizer;

// A dictation with the recorder and the paste service it drives, wired in one place for the
// program, the commands and the tests.
class DictationStack {
public:
    struct Parts {
        Logger& log;
        Clock& clock;
        AppSettings& settings;
        SpeechRecognizer& recognizer;
        AudioInput& audio;
        DebugLog& debugLog;
        Pasteboard& pasteboard;
        SyntheticInput& input;
        Workspace& workspace;
        RecordingPanelControl& panel;
        GeminiService* gemini = nullptr;
        UsageTracker* usage = nullptr;
        RecordingHistory* history = nullptr;
        ConverterFactory converters = LinearConverter::factory();
        const ModelCheck* modelCheck = nullptr;
        KeptAudio* kept = nullptr;
    };

    explicit DictationStack(Parts parts)
        : speech(parts.log, parts.clock, parts.recognizer, parts.audio, parts.debugLog, std::move(parts.converters),
                 parts.modelCheck),
          paste(parts.log, parts.clock, parts.pasteboard, parts.input),
          dictation({parts.log, parts.clock, speech, parts.settings, parts.usage, parts.history, parts.panel,
                     parts.gemini, &paste, parts.workspace, parts.input, parts.kept})
    {
    }

    SpeechManager speech;
    PasteService paste;
    Dictation dictation;
};

} // namespace vel
