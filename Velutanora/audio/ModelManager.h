#pragma once

#include "common/Task.h"
#include "recording/ModelControl.h"

#include <QPointer>

#include <memory>

namespace vel {

class AppSettings;
class Logger;
class ModelInstaller;
class VoskRecognizer;

// The model card's controls over the recogniser's one installer: the state follows every
// installation, whoever started it (the launch-time check or the card), and the model choice
// of the settings switches the recogniser to the other model for the next dictation.
class ModelManager final : public ModelControl {
    Q_OBJECT
public:
    // recognizer is null without libvosk: the state then says why nothing can be installed.
    ModelManager(Logger& log, AppSettings& settings, VoskRecognizer* recognizer, QObject* parent = nullptr);

    ModelState state() const override { return m_state; }
    void download() override;
    void cancel() override;
    void installArchive(const QString& zipPath) override;
    void remove() override;

private:
    void setState(const ModelState& state);
    void refresh();
    void switchModel();
    Task<void> runDownload();
    Task<void> runArchive(std::shared_ptr<ModelInstaller> installer, QString zipPath);
    Task<void> load();

    Logger& m_log;
    AppSettings& m_settings;
    QPointer<VoskRecognizer> m_recognizer;
    ModelState m_state;
};

} // namespace vel
