#include "correction/GeminiWire.h"

#include <algorithm>

#include "correction/TextFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace vel {

DecodingError::DecodingError(Kind kind, QString detail)
    : Error(kind == Kind::Missing ? QStringLiteral("データが見つからないため、読み込めませんでした。")
                                  : QStringLiteral("データが正しい形式ではないため、読み込めませんでした。")),
      m_kind(kind), m_detail(std::move(detail))
{
}

namespace {

QJsonObject partJson(const GeminiPart& part)
{
    QJsonObject o;
    if (part.text)
        o.insert(QStringLiteral("text"), *part.text);
    if (part.inlineData) {
        o.insert(QStringLiteral("inlineData"), QJsonObject{{QStringLiteral("mimeType"), part.inlineData->mimeType},
                                                           {QStringLiteral("data"), part.inlineData->data}});
    }
    return o;
}

[[noreturn]] void malformed(const QString& path) { throw DecodingError(DecodingError::Kind::Malformed, path); }
[[noreturn]] void missing(const QString& path) { throw DecodingError(DecodingError::Kind::Missing, path); }

// A present, non-null value; null and absence both count as absent for optionals.
bool present(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return !v.isUndefined() && !v.isNull();
}

QJsonObject requireObject(const QJsonValue& v, const QString& path)
{
    if (!v.isObject())
        malformed(path);
    return v.toObject();
}

QJsonArray requireArray(const QJsonValue& v, const QString& path)
{
    if (!v.isArray())
        malformed(path);
    return v.toArray();
}

QString requireString(const QJsonObject& o, const char* key, const QString& path)
{
    if (!present(o, key))
        missing(path + QLatin1Char('.') + QLatin1String(key));
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        malformed(path + QLatin1Char('.') + QLatin1String(key));
    return v.toString();
}

std::optional<qint64> optionalInteger(const QJsonObject& o, const char* key, const QString& path)
{
    if (!present(o, key))
        return std::nullopt;
    const QJsonValue v = o.value(QLatin1String(key));
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || !std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > 9.2e18)
        malformed(path + QLatin1Char('.') + QLatin1String(key));
    return v.toInteger(static_cast<qint64>(d));
}

GeminiContent decodeContent(const QJsonValue& value, const QString& path)
{
    const QJsonObject o = requireObject(value, path);
    if (!present(o, "parts"))
        missing(path + QStringLiteral(".parts"));
    GeminiContent content;
    const QJsonArray parts = requireArray(o.value(QStringLiteral("parts")), path + QStringLiteral(".parts"));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString partPath = QStringLiteral("%1.parts[%2]").arg(path).arg(i);
        const QJsonObject p = requireObject(parts.at(i), partPath);
        GeminiPart part;
        if (present(p, "text")) {
            if (!p.value(QStringLiteral("text")).isString())
                malformed(partPath + QStringLiteral(".text"));
            part.text = p.value(QStringLiteral("text")).toString();
        }
        if (present(p, "inlineData")) {
            const QString dataPath = partPath + QStringLiteral(".inlineData");
            const QJsonObject d = requireObject(p.value(QStringLiteral("inlineData")), dataPath);
            part.inlineData = InlineData{requireString(d, "mimeType", dataPath), requireString(d, "data", dataPath)};
        }
        content.parts.append(part);
    }
    return content;
}

} // namespace

QByteArray GeminiRequest::toJson() const
{
    QJsonArray contentsJson;
    for (const GeminiContent& content : contents) {
        QJsonArray parts;
        for (const GeminiPart& part : content.parts)
            parts.append(partJson(part));
        contentsJson.append(QJsonObject{{QStringLiteral("parts"), parts}});
    }
    QJsonObject root{{QStringLiteral("contents"), contentsJson}};
    if (generationConfig) {
        QJsonObject config;
        if (generationConfig->temperature)
            config.insert(QStringLiteral("temperature"), *generationConfig->temperature);
        if (generationConfig->thinkingConfig)
            config.insert(QStringLiteral("thinkingConfig"),
                          QJsonObject{{QStringLiteral("thinkingBudget"), generationConfig->thinkingConfig->thinkingBudget}});
        root.insert(QStringLiteral("generationConfig"), config);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

GeminiResponse GeminiResponse::fromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        malformed(QStringLiteral("body: ") + error.errorString());
    if (!doc.isObject())
        malformed(QStringLiteral("body"));
    const QJsonObject root = doc.object();
    GeminiResponse response;
    if (present(root, "candidates")) {
        const QJsonArray array = requireArray(root.value(QStringLiteral("candidates")), QStringLiteral("candidates"));
        QList<GeminiCandidate> candidates;
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QString path = QStringLiteral("candidates[%1]").arg(i);
            const QJsonObject c = requireObject(array.at(i), path);
            if (!present(c, "content"))
                missing(path + QStringLiteral(".content"));
            const QString reason = c.value(QStringLiteral("finishReason")).toString();
            candidates.append(GeminiCandidate{decodeContent(c.value(QStringLiteral("content")), path + QStringLiteral(".content")),
                                              reason});
        }
        response.candidates = candidates;
    }
    if (present(root, "usageMetadata")) {
        const QString path = QStringLiteral("usageMetadata");
        const QJsonObject u = requireObject(root.value(path), path);
        response.usageMetadata = UsageMetadata{optionalInteger(u, "promptTokenCount", path),
                                               optionalInteger(u, "candidatesTokenCount", path),
                                               optionalInteger(u, "totalTokenCount", path),
                                               optionalInteger(u, "thoughtsTokenCount", path)};
    }
    return response;
}

std::optional<QString> GeminiResponse::answerText() const
{
    if (!candidates || candidates->isEmpty())
        return std::nullopt;
    // A long answer may come in several parts: each holds the next piece of the text.
    std::optional<QString> text;
    for (const GeminiPart& part : candidates->first().content.parts) {
        if (part.text)
            text = text.value_or(QString()) + *part.text;
    }
    return text;
}

bool GeminiResponse::isCutOff() const
{
    return candidates && !candidates->isEmpty() && candidates->first().finishReason == QLatin1String("MAX_TOKENS");
}

namespace {

QByteArray requestBody(QList<GeminiPart> parts, qint64 thinkingBudget)
{
    GeminiRequest request;
    request.contents = {GeminiContent{std::move(parts)}};
    request.generationConfig = GenerationConfig{0.0, ThinkingConfig{thinkingBudget}};
    return request.toJson();
}

} // namespace

QByteArray buildTextRequestBody(const QString& prompt, qint64 thinkingBudget)
{
    return requestBody({GeminiPart{prompt, std::nullopt}}, thinkingBudget);
}

QByteArray buildAudioRequestBody(const QByteArray& wav, const QString& prompt, qint64 thinkingBudget)
{
    // Written by hand: the base64 of a long recording is megabytes, and a detour through
    // QJsonObject would copy it several times. Same shape as GeminiRequest::toJson().
    QByteArray promptJson = QJsonDocument(QJsonArray{prompt}).toJson(QJsonDocument::Compact);
    promptJson = promptJson.mid(1, promptJson.size() - 2);
    const QByteArray head = R"({"contents":[{"parts":[{"inlineData":{"mimeType":"audio/wav","data":")";
    const QByteArray middle = R"("}},{"text":)";
    const QByteArray tail = R"(}]}],"generationConfig":{"temperature":0,"thinkingConfig":{"thinkingBudget":)"
                            + QByteArray::number(thinkingBudget) + "}}}";
    const qsizetype base64Size = (wav.size() + 2) / 3 * 4;
    QByteArray body(head.size() + base64Size + middle.size() + promptJson.size() + tail.size(), Qt::Uninitialized);
    char* out = body.data();
    out = std::copy(head.cbegin(), head.cend(), out);
    // The base64 goes straight into the body: no second buffer of the recording's size.
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* in = reinterpret_cast<const unsigned char*>(wav.constData());
    const qsizetype whole = wav.size() / 3 * 3;
    for (qsizetype i = 0; i < whole; i += 3) {
        const quint32 v = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | in[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (const qsizetype rest = wav.size() - whole; rest > 0) {
        const quint32 v = (quint32(in[whole]) << 16) | (rest > 1 ? quint32(in[whole + 1]) << 8 : 0);
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = rest > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        *out++ = '=';
    }
    out = std::copy(middle.cbegin(), middle.cend(), out);
    out = std::copy(promptJson.cbegin(), promptJson.cend(), out);
    std::copy(tail.cbegin(), tail.cend(), out);
    return body;
}

} // namespace vel
