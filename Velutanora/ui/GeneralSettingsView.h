#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace vel {

class GlassCard;

class AppSettings;
class MicrophonePicker;
class ModelCard;
class ModelControl;
class SegmentedPicker;

// The "設定" section: every control bound to a setting, written through at once.
class GeneralSettingsView final : public QWidget {
    Q_OBJECT
public:
    // models (may be null: no card) are the speech model's controls.
    explicit GeneralSettingsView(AppSettings& settings, ModelControl* models = nullptr, QWidget* parent = nullptr);

    static QString correctionNote(int modeIndex);
    static QString continuousNote(int modeIndex);

    MicrophonePicker* microphonePicker() const { return m_microphone; }
    ModelCard* modelCard() const { return m_modelCard; }
    QLineEdit* apiKeyField() const { return m_apiKey; }
    QLineEdit* occupationField() const { return m_occupation; }
    SegmentedPicker* appearancePicker() const { return m_appearance; }
    SegmentedPicker* correctionPicker() const { return m_correction; }
    SegmentedPicker* continuousPicker() const { return m_continuous; }
    QCheckBox* stealthToggle() const { return m_stealth; }
    QCheckBox* poorDictionToggle() const { return m_poorDiction; }
    QCheckBox* fillersToggle() const { return m_fillers; }
    QCheckBox* launchAtLoginToggle() const { return m_launchAtLogin; }
    QSlider* silenceSlider() const { return m_silence; }
    QWidget* silenceRow() const { return m_silenceRow; }
    QLabel* silenceValue() const { return m_silenceValue; }
    QLabel* correctionNoteLabel() const { return m_correctionNote; }
    // Tries a key against the Gemini API; `done` gets why it does not work (empty: it does).
    using KeyCheck = std::function<void(const QString& key, std::function<void(const QString& failure)> done)>;
    void setKeyCheck(KeyCheck check);
    QPushButton* testKeyButton() const { return m_testKey; }
    QString keyCheckResult() const;
    // The current status line, at the top of the page.
    void showStatus(const QString& status);
    QString statusText() const;
    QLabel* continuousNoteLabel() const { return m_continuousNote; }

private:
    void refresh();

    AppSettings& m_settings;
    MicrophonePicker* m_microphone;
    ModelCard* m_modelCard = nullptr;
    QLineEdit* m_apiKey;
    QLineEdit* m_occupation;
    SegmentedPicker* m_appearance;
    SegmentedPicker* m_correction;
    SegmentedPicker* m_continuous;
    QCheckBox* m_stealth;
    QCheckBox* m_debugLogging;
    GlassCard* m_statusCard;
    QPushButton* m_testKey;
    QLabel* m_keyResult;
    KeyCheck m_keyCheck;
    QLabel* m_statusMark;
    QLabel* m_status;
    QCheckBox* m_poorDiction;
    QCheckBox* m_fillers;
    QCheckBox* m_launchAtLogin;
    QSlider* m_silence;
    QWidget* m_silenceRow;
    QWidget* m_silenceNote;
    QLabel* m_silenceValue;
    QLabel* m_correctionNote;
    QLabel* m_continuousNote;
};

} // namespace vel
