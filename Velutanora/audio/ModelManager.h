#pragma once

#include "common/Task.h"
#include "recording/ModelControl.h"

#include <memory>

namespace vel {

class AppSettings;
class ChosenRecognizer;
class Logger;
class ModelInstaller;
class ModelRecognizer;

// The model card's controls over the chosen model's installer: the state follows every
// installation of it, whoever started it (the launch-time check or the card), and the model choice
// of the settings switches the recogniser to another model for the next dictation.
class ModelManager final : public ModelControl {
    Q_OBJECT
public:
    ModelManager(Logger& log, AppSettings& settings, ChosenRecognizer& recognizers, QObject* parent = nullptr);

    ModelState state() const override { return m_state; }
    void download() override;
    void cancel() override;
    void installArchive(const QString& zipPath) override;
    void remove() override;

private:
    ModelRecognizer* chosen() const;
    void setState(const ModelState& state);
    void refresh();
    void switchModel();
    Task<void> runDownload();
    Task<void> runArchive(std::shared_ptr<ModelInstaller> installer, QString zipPath);
    Task<void> load();

    Logger& m_log;
    AppSettings& m_settings;
    ChosenRecognizer& m_recognizers;
    ModelState m_state;
};

} // namespace vel
