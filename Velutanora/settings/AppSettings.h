#pragma once

#include "settings/DictionaryEntry.h"
#include "settings/ShortcutKey.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace vel {

class KeyValueStore;

enum class CorrectionMode { Instant, Fast, Quality };
enum class ContinuousMode { Off, PasteOnly, Auto };
enum class AppearanceMode { System, Light, Dark };

inline constexpr std::array<CorrectionMode, 3> allCorrectionModes{CorrectionMode::Instant, CorrectionMode::Fast,
                                                                  CorrectionMode::Quality};
inline constexpr std::array<ContinuousMode, 3> allContinuousModes{ContinuousMode::Off, ContinuousMode::PasteOnly,
                                                                  ContinuousMode::Auto};
inline constexpr std::array<AppearanceMode, 3> allAppearanceModes{AppearanceMode::System, AppearanceMode::Light,
                                                                  AppearanceMode::Dark};

QString rawValue(CorrectionMode mode);
QString rawValue(ContinuousMode mode);
QString rawValue(AppearanceMode mode);
QString displayName(CorrectionMode mode);
QString displayName(ContinuousMode mode);
QString displayName(AppearanceMode mode);
// None when the text is not exactly one of the raw values.
std::optional<CorrectionMode> correctionModeFromRaw(const QString& raw);
std::optional<ContinuousMode> continuousModeFromRaw(const QString& raw);
std::optional<AppearanceMode> appearanceModeFromRaw(const QString& raw);

// Every user preference, loaded once from the store and written through on every
// assignment. Assigning an equal value stores it again but notifies nobody.
class AppSettings final : public QObject {
    Q_OBJECT
public:
    explicit AppSettings(KeyValueStore& store, QObject* parent = nullptr);

    static QList<DictionaryEntry> defaultEntries() { return {}; }

    QString geminiApiKey() const { return m_geminiApiKey; }
    bool removeFillers() const { return m_removeFillers; }
    QList<DictionaryEntry> dictionaryEntries() const { return m_dictionaryEntries; }
    ShortcutKey startShortcut() const { return m_startShortcut; }
    ShortcutKey cancelShortcut() const { return m_cancelShortcut; }
    AppearanceMode appearanceMode() const { return m_appearanceMode; }
    QString userOccupation() const { return m_userOccupation; }
    CorrectionMode correctionMode() const { return m_correctionMode; }
    bool assumePoorDiction() const { return m_assumePoorDiction; }
    ContinuousMode continuousMode() const { return m_continuousMode; }
    double continuousSilenceSeconds() const { return m_continuousSilenceSeconds; }
    bool stealthMode() const { return m_stealthMode; }

    void setGeminiApiKey(const QString& value);
    void setRemoveFillers(bool value);
    void setDictionaryEntries(const QList<DictionaryEntry>& value);
    void setStartShortcut(const ShortcutKey& value);
    void setCancelShortcut(const ShortcutKey& value);
    void setAppearanceMode(AppearanceMode value);
    void setUserOccupation(const QString& value);
    void setCorrectionMode(CorrectionMode value);
    void setAssumePoorDiction(bool value);
    void setContinuousMode(ContinuousMode value);
    void setContinuousSilenceSeconds(double value);
    void setStealthMode(bool value);

    // Vocabulary hints for the recogniser: the dictionary's terms, then the term lists of the
    // fields the occupation names. Computed afresh on every read.
    QStringList contextualStrings() const;

    // Hidden setting: where the Gemini API lives (for proxies and tests).
    QString geminiBaseUrl() const;
    // Whether an XDG autostart entry starts the program at login.
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool value);
    // Whether the update feed is checked by itself, once a day.
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool value);

    // Hidden settings of the on-device model: its folder and where to download it from
    // (empty: the defaults of the recogniser).
    QString recognizerModelDir() const;
    QString recognizerModelUrl() const;

    // The microphone to record from, by its device id; empty for the system's default.
    QString microphoneId() const;
    void setMicrophoneId(const QString& value);
    // Which Japanese model the recogniser uses, by its id in the model catalogue ("small", the
    // default, "large", "parakeet-ja").
    QString recognizerModel() const;
    void setRecognizerModel(const QString& value);
    // The cores the recogniser may use (engines that take a number of threads).
    static constexpr int kMaxRecognizerThreads = 16;
    static int defaultRecognizerThreads();
    int recognizerThreads() const;
    void setRecognizerThreads(int value);
    // The model whose engine process ended on it, and why ("recognizer_model_crash": its id, a
    // tab, the reason); empty when none. It is not loaded until the user chooses it again.
    std::pair<QString, QString> crashedRecognizerModel() const;
    // Whether dictated texts and Gemini's prompts and answers go to the private debug log
    // ("debug_logging"; off by default: the log lines then give only their lengths).
    bool debugLogging() const;
    void setDebugLogging(bool value);
    void setCrashedRecognizerModel(const QString& id, const QString& reason);

    // The four field term lists, exposed for tests and documentation.
    static const QStringList& softwareTerms();
    static const QStringList& medicalTerms();
    static const QStringList& legalTerms();
    static const QStringList& accountingTerms();

    KeyValueStore& store() const { return m_store; }

signals:
    void geminiApiKeyChanged();
    void removeFillersChanged();
    void dictionaryEntriesChanged();
    void startShortcutChanged();
    void cancelShortcutChanged();
    void appearanceModeChanged();
    void userOccupationChanged();
    void correctionModeChanged();
    void assumePoorDictionChanged();
    void continuousModeChanged();
    void continuousSilenceSecondsChanged();
    void stealthModeChanged();
    void launchAtLoginChanged();
    void automaticallyChecksForUpdatesChanged();
    void microphoneIdChanged();
    void recognizerModelChanged();
    void recognizerThreadsChanged();
    void debugLoggingChanged();

private:
    void load();
    void loadShortcut(const QString& storeKey, ShortcutKey& into);

    KeyValueStore& m_store;
    QString m_geminiApiKey;
    bool m_removeFillers = true;
    QList<DictionaryEntry> m_dictionaryEntries;
    ShortcutKey m_startShortcut = ShortcutKey::defaultStart();
    ShortcutKey m_cancelShortcut = ShortcutKey::defaultCancel();
    AppearanceMode m_appearanceMode = AppearanceMode::Light;
    QString m_userOccupation;
    CorrectionMode m_correctionMode = CorrectionMode::Fast;
    bool m_assumePoorDiction = false;
    ContinuousMode m_continuousMode = ContinuousMode::Off;
    double m_continuousSilenceSeconds = 3.0;
    bool m_stealthMode = false;
};

} // namespace vel
