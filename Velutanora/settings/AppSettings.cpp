#include "settings/AppSettings.h"

#include "settings/KeyValueStore.h"

#include <QThread>

#include <algorithm>
#include <cmath>

namespace vel {

namespace {

const QString kGeminiApiKey = QStringLiteral("gemini_api_key");
const QString kRemoveFillers = QStringLiteral("remove_fillers");
const QString kDictionaryEntries = QStringLiteral("dictionary_entries");
const QString kStartShortcut = QStringLiteral("start_shortcut");
const QString kCancelShortcut = QStringLiteral("stop_shortcut");
const QString kAppearanceMode = QStringLiteral("appearance_mode");
const QString kUserOccupation = QStringLiteral("user_occupation");
const QString kCorrectionMode = QStringLiteral("correction_mode");
const QString kAssumePoorDiction = QStringLiteral("assume_poor_diction");
const QString kContinuousMode = QStringLiteral("continuous_mode");
const QString kContinuousSilenceSeconds = QStringLiteral("continuous_silence_seconds");
const QString kStealthMode = QStringLiteral("stealth_mode");
const QString kGeminiBaseUrl = QStringLiteral("gemini_base_url");

template <class Enum, size_t N>
std::optional<Enum> fromRaw(const std::array<Enum, N>& all, const QString& raw)
{
    for (Enum e : all) {
        if (rawValue(e) == raw)
            return e;
    }
    return std::nullopt;
}

} // namespace

QString rawValue(CorrectionMode mode)
{
    switch (mode) {
    case CorrectionMode::Instant: return QStringLiteral("instant");
    case CorrectionMode::Fast: return QStringLiteral("fast");
    case CorrectionMode::Quality: return QStringLiteral("quality");
    }
    return {};
}

QString rawValue(ContinuousMode mode)
{
    switch (mode) {
    case ContinuousMode::Off: return QStringLiteral("off");
    case ContinuousMode::PasteOnly: return QStringLiteral("paste_only");
    case ContinuousMode::Auto: return QStringLiteral("auto");
    }
    return {};
}

QString rawValue(AppearanceMode mode)
{
    switch (mode) {
    case AppearanceMode::System: return QStringLiteral("system");
    case AppearanceMode::Light: return QStringLiteral("light");
    case AppearanceMode::Dark: return QStringLiteral("dark");
    }
    return {};
}

QString displayName(CorrectionMode mode)
{
    switch (mode) {
    case CorrectionMode::Instant: return QStringLiteral("超高速");
    case CorrectionMode::Fast: return QStringLiteral("高速");
    case CorrectionMode::Quality: return QStringLiteral("高品質");
    }
    return {};
}

QString displayName(ContinuousMode mode)
{
    switch (mode) {
    case ContinuousMode::Off: return QStringLiteral("オフ");
    case ContinuousMode::PasteOnly: return QStringLiteral("ペーストのみ");
    case ContinuousMode::Auto: return QStringLiteral("自動送信");
    }
    return {};
}

QString displayName(AppearanceMode mode)
{
    switch (mode) {
    case AppearanceMode::System: return QStringLiteral("システム設定に従う");
    case AppearanceMode::Light: return QStringLiteral("ライト");
    case AppearanceMode::Dark: return QStringLiteral("ダーク");
    }
    return {};
}

std::optional<CorrectionMode> correctionModeFromRaw(const QString& raw) { return fromRaw(allCorrectionModes, raw); }
std::optional<ContinuousMode> continuousModeFromRaw(const QString& raw) { return fromRaw(allContinuousModes, raw); }
std::optional<AppearanceMode> appearanceModeFromRaw(const QString& raw) { return fromRaw(allAppearanceModes, raw); }

AppSettings::AppSettings(KeyValueStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    load();
}

void AppSettings::load()
{
    m_geminiApiKey = m_store.string(kGeminiApiKey).value_or(QString());
    m_removeFillers = m_store.boolean(kRemoveFillers).value_or(true);

    if (auto raw = m_store.string(kAppearanceMode))
        m_appearanceMode = appearanceModeFromRaw(*raw).value_or(AppearanceMode::Light);

    if (auto blob = m_store.data(kDictionaryEntries)) {
        if (auto entries = DictionaryEntry::decodeList(*blob))
            m_dictionaryEntries = *entries;
    }

    m_userOccupation = m_store.string(kUserOccupation).value_or(QString());

    if (auto raw = m_store.string(kCorrectionMode))
        m_correctionMode = correctionModeFromRaw(*raw).value_or(CorrectionMode::Fast);

    m_assumePoorDiction = m_store.boolean(kAssumePoorDiction).value_or(false);

    // Older stores hold a Boolean here: true meant what is now "auto".
    std::optional<ContinuousMode> continuous;
    if (auto raw = m_store.string(kContinuousMode))
        continuous = continuousModeFromRaw(*raw);
    if (!continuous)
        continuous = m_store.boolean(kContinuousMode).value_or(false) ? ContinuousMode::Auto : ContinuousMode::Off;
    m_continuousMode = *continuous;

    // 0, a negative value or NaN would end every utterance at once, or never.
    const double seconds = m_store.number(kContinuousSilenceSeconds).value_or(3.0);
    m_continuousSilenceSeconds = (std::isfinite(seconds) && seconds > 0) ? seconds : 3.0;

    m_stealthMode = m_store.boolean(kStealthMode).value_or(false);

    loadShortcut(kStartShortcut, m_startShortcut);
    loadShortcut(kCancelShortcut, m_cancelShortcut);
}

void AppSettings::loadShortcut(const QString& storeKey, ShortcutKey& into)
{
    const auto blob = m_store.data(storeKey);
    if (!blob)
        return;
    bool legacy = false;
    const auto key = ShortcutKey::fromJson(*blob, &legacy);
    if (!key)
        return;
    into = *key;
    // Earlier versions' records are rewritten once in today's form.
    if (legacy)
        m_store.setData(storeKey, key->toJson());
}

void AppSettings::setGeminiApiKey(const QString& value)
{
    const bool changed = value != m_geminiApiKey;
    m_geminiApiKey = value;
    m_store.setString(kGeminiApiKey, value);
    if (changed)
        emit geminiApiKeyChanged();
}

void AppSettings::setRemoveFillers(bool value)
{
    const bool changed = value != m_removeFillers;
    m_removeFillers = value;
    m_store.setBoolean(kRemoveFillers, value);
    if (changed)
        emit removeFillersChanged();
}

void AppSettings::setDictionaryEntries(const QList<DictionaryEntry>& value)
{
    const bool changed = value != m_dictionaryEntries;
    m_dictionaryEntries = value;
    m_store.setData(kDictionaryEntries, DictionaryEntry::encodeList(value));
    if (changed)
        emit dictionaryEntriesChanged();
}

void AppSettings::setStartShortcut(const ShortcutKey& value)
{
    const bool changed = !(value == m_startShortcut);
    m_startShortcut = value;
    m_store.setData(kStartShortcut, value.toJson());
    if (changed)
        emit startShortcutChanged();
}

void AppSettings::setCancelShortcut(const ShortcutKey& value)
{
    const bool changed = !(value == m_cancelShortcut);
    m_cancelShortcut = value;
    m_store.setData(kCancelShortcut, value.toJson());
    if (changed)
        emit cancelShortcutChanged();
}

void AppSettings::setAppearanceMode(AppearanceMode value)
{
    const bool changed = value != m_appearanceMode;
    m_appearanceMode = value;
    m_store.setString(kAppearanceMode, rawValue(value));
    if (changed)
        emit appearanceModeChanged();
}

void AppSettings::setUserOccupation(const QString& value)
{
    const bool changed = value != m_userOccupation;
    m_userOccupation = value;
    m_store.setString(kUserOccupation, value);
    if (changed)
        emit userOccupationChanged();
}

void AppSettings::setCorrectionMode(CorrectionMode value)
{
    const bool changed = value != m_correctionMode;
    m_correctionMode = value;
    m_store.setString(kCorrectionMode, rawValue(value));
    if (changed)
        emit correctionModeChanged();
}

void AppSettings::setAssumePoorDiction(bool value)
{
    const bool changed = value != m_assumePoorDiction;
    m_assumePoorDiction = value;
    m_store.setBoolean(kAssumePoorDiction, value);
    if (changed)
        emit assumePoorDictionChanged();
}

void AppSettings::setContinuousMode(ContinuousMode value)
{
    const bool changed = value != m_continuousMode;
    m_continuousMode = value;
    m_store.setString(kContinuousMode, rawValue(value));
    if (changed)
        emit continuousModeChanged();
}

void AppSettings::setContinuousSilenceSeconds(double value)
{
    const bool changed = value != m_continuousSilenceSeconds;
    m_continuousSilenceSeconds = value;
    m_store.setNumber(kContinuousSilenceSeconds, value);
    if (changed)
        emit continuousSilenceSecondsChanged();
}

void AppSettings::setStealthMode(bool value)
{
    const bool changed = value != m_stealthMode;
    m_stealthMode = value;
    m_store.setBoolean(kStealthMode, value);
    if (changed)
        emit stealthModeChanged();
}

QString AppSettings::geminiBaseUrl() const
{
    const QString url = m_store.string(kGeminiBaseUrl).value_or(QString());
    return url.isEmpty() ? QStringLiteral("https://generativelanguage.googleapis.com") : url;
}

bool AppSettings::launchAtLogin() const
{
    return m_store.boolean(QStringLiteral("launch_at_login")).value_or(false);
}

void AppSettings::setLaunchAtLogin(bool value)
{
    const bool changed = value != launchAtLogin();
    m_store.setBoolean(QStringLiteral("launch_at_login"), value);
    if (changed)
        emit launchAtLoginChanged();
}

bool AppSettings::automaticallyChecksForUpdates() const
{
    return m_store.boolean(QStringLiteral("automatically_checks_for_updates")).value_or(false);
}

void AppSettings::setAutomaticallyChecksForUpdates(bool value)
{
    const bool changed = value != automaticallyChecksForUpdates();
    m_store.setBoolean(QStringLiteral("automatically_checks_for_updates"), value);
    if (changed)
        emit automaticallyChecksForUpdatesChanged();
}

QString AppSettings::recognizerModelDir() const
{
    return m_store.string(QStringLiteral("recognizer_model_dir")).value_or(QString());
}

QString AppSettings::recognizerModelUrl() const
{
    return m_store.string(QStringLiteral("recognizer_model_url")).value_or(QString());
}

QString AppSettings::microphoneId() const
{
    return m_store.string(QStringLiteral("microphone_id")).value_or(QString());
}

void AppSettings::setMicrophoneId(const QString& value)
{
    const bool changed = value != microphoneId();
    m_store.setString(QStringLiteral("microphone_id"), value);
    if (changed)
        emit microphoneIdChanged();
}

QString AppSettings::recognizerModel() const
{
    // The catalogue of the recognisers tells the ids; an unknown one means its first model.
    const QString model = m_store.string(QStringLiteral("recognizer_model")).value_or(QString());
    return model.isEmpty() ? QStringLiteral("small") : model;
}

void AppSettings::setRecognizerModel(const QString& value)
{
    const QString model = value.isEmpty() ? QStringLiteral("small") : value;
    const bool changed = model != recognizerModel();
    m_store.setString(QStringLiteral("recognizer_model"), model);
    if (changed)
        emit recognizerModelChanged();
}

int AppSettings::defaultRecognizerThreads()
{
    // Recognition shares the machine with the application being dictated into.
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

int AppSettings::recognizerThreads() const
{
    const std::optional<int> stored = m_store.integer(QStringLiteral("recognizer_threads"));
    return stored && *stored >= 1 ? std::min(*stored, kMaxRecognizerThreads) : defaultRecognizerThreads();
}

void AppSettings::setRecognizerThreads(int value)
{
    const int threads = std::clamp(value, 1, kMaxRecognizerThreads);
    const bool changed = threads != recognizerThreads();
    m_store.setInteger(QStringLiteral("recognizer_threads"), threads);
    if (changed)
        emit recognizerThreadsChanged();
}

std::pair<QString, QString> AppSettings::crashedRecognizerModel() const
{
    const QString stored = m_store.string(QStringLiteral("recognizer_model_crash")).value_or(QString());
    const qsizetype tab = stored.indexOf(QLatin1Char('\t'));
    if (tab <= 0)
        return {};
    return {stored.left(tab), stored.mid(tab + 1)};
}

void AppSettings::setCrashedRecognizerModel(const QString& id, const QString& reason)
{
    if (id.isEmpty())
        m_store.remove(QStringLiteral("recognizer_model_crash"));
    else
        m_store.setString(QStringLiteral("recognizer_model_crash"), id + QLatin1Char('\t') + reason);
}

bool AppSettings::debugLogging() const { return m_store.boolean(QStringLiteral("debug_logging")).value_or(false); }

void AppSettings::setDebugLogging(bool value)
{
    const bool changed = value != debugLogging();
    m_store.setBoolean(QStringLiteral("debug_logging"), value);
    if (changed)
        emit debugLoggingChanged();
}

} // namespace vel
