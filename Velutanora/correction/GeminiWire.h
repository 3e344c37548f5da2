#pragma once

#include "common/Error.h"
#include "settings/UsageMetadata.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vel {

// The JSON bodies of the generateContent method. Absent optionals are omitted, never null.
struct InlineData {
    QString mimeType;
    QString data; // base64 of the bytes
};

struct GeminiPart {
    std::optional<QString> text;
    std::optional<InlineData> inlineData;
};

struct GeminiContent {
    QList<GeminiPart> parts;
};

struct ThinkingConfig {
    qint64 thinkingBudget = 0;
};

struct GenerationConfig {
    std::optional<double> temperature;
    std::optional<ThinkingConfig> thinkingConfig;
};

struct GeminiRequest {
    QList<GeminiContent> contents;
    std::optional<GenerationConfig> generationConfig;

    QByteArray toJson() const;
};

struct GeminiCandidate {
    GeminiContent content;
    QString finishReason; // "STOP", "MAX_TOKENS"…; empty when not given
};

struct GeminiResponse {
    std::optional<QList<GeminiCandidate>> candidates;
    std::optional<UsageMetadata> usageMetadata;

    // Throws DecodingError when a required field is missing or a field has the wrong type.
    static GeminiResponse fromJson(const QByteArray& json);
    // The texts of the first candidate's parts, joined and untrimmed; none when it has none.
    std::optional<QString> answerText() const;
    // Whether the first candidate stopped at the output limit: its text is cut off.
    bool isCutOff() const;
};

// What the client hands to the pipeline: the trimmed answer and the usage block.
struct GeminiResult {
    QString text;
    std::optional<UsageMetadata> usage;
};

// A response body that is not the JSON the client expects.
class DecodingError : public Error {
public:
    enum class Kind { Malformed, Missing };
    DecodingError(Kind kind, QString detail);
    Kind kind() const { return m_kind; }
    const QString& detail() const { return m_detail; }

private:
    Kind m_kind;
    QString m_detail;
};

// Base64 of a WAV (standard alphabet, padded, no line breaks) wrapped in the audio request body.
QByteArray buildAudioRequestBody(const QByteArray& wav, const QString& prompt, qint64 thinkingBudget);
QByteArray buildTextRequestBody(const QString& prompt, qint64 thinkingBudget);

} // namespace vel
