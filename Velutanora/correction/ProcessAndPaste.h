#pragma once

#include "common/Task.h"
#include "desktop/Workspace.h"
#include "recording/SpeechManager.h"

namespace vel {

class AppSettings;
class Clock;
class GeminiService;
class Logger;
class PasteService;
class RecordingHistory;
class UsageTracker;

// What the pipeline talks to; any may be absent (no correction, no paste, nothing recorded).
struct PipelineServices {
    GeminiService* gemini = nullptr;
    PasteService* paste = nullptr;
    UsageTracker* usage = nullptr;
    RecordingHistory* history = nullptr;
};

// Turns a stopped dictation into pasted text: local clean-up, Gemini when the mode and the key
// call for it (with the local text as the fallback), history, usage, the paste into target.
// The dictation's published state (status, rewriting, completion) is the speech manager's.
Task<void> processAndPaste(SpeechManager& speech, StoppedDictation dictation, ApplicationRef target,
                           AppSettings& settings, PipelineServices services, Logger& log, Clock& clock);

} // namespace vel
