#pragma once

#include "recording/SpeechRecognizer.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace vel {

// One recognition engine, inside the engine process: its library, one loaded model, and the
// sessions of the dictations. The program never loads one itself: an engine's library may end
// the process on a model it cannot use.
class Engine {
public:
    virtual ~Engine() = default;
    // Loads the folder, replacing the model loaded before: empty once loaded, otherwise why not.
    // It blocks; the engine process has nothing else to do meanwhile.
    virtual QString load(const QString& directory, int threads) = 0;
    virtual void unload() = 0;
    // A session of 16 kHz 16-bit mono audio over the loaded model (none without one); the words
    // bias the search where the engine can take them.
    virtual std::shared_ptr<RecognizerSession> makeSession(const QStringList& words) = 0;
};

// The engine of that name ("vosk", "nemo-ctc", "transducer") on its library at `library` (empty:
// beside this program, then the system's); none, and why, when the library does not load.
std::unique_ptr<Engine> makeEngine(const QString& name, const QString& library, QString* why);

// The library an engine of that name loads, by its file name.
QString engineLibraryName(const QString& name);

// A line for each engine's library: the file this process loads, or why there is none.
QString engineLibraryReport();

} // namespace vel
