#pragma once

#include "common/Task.h"
#include "recording/SpeechRecognizer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace vel {

// The launch-time check of the Japanese model: whether the recogniser does Japanese, and the
// download when the model is missing. Its progress is a status line; while the download runs, a
// dictation that needs the recogniser says how far it is. Main thread only.
class ModelCheck final : public QObject {
    Q_OBJECT
public:
    static inline const QString kLocale = QStringLiteral("ja_JP");

    explicit ModelCheck(SpeechRecognizer& recognizer, QObject* parent = nullptr);

    // Checks the model and installs it when it is missing. checked (may be null) is called once
    // the state is known, before a download: dictations may start meanwhile. Throws SpeechError
    // (no Japanese) or the download's failure.
    Task<void> ensureJapanese(std::function<void()> checked = {});
    // The download's progress in percent while it runs.
    std::optional<int> downloadPercent() const { return m_downloadPercent; }

signals:
    void status(const QString& status);

private:
    SpeechRecognizer& m_recognizer;
    std::optional<int> m_downloadPercent;
};

} // namespace vel
