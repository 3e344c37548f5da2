#include "recording/ModelCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace vel {

const QList<CatalogModel>& modelCatalog()
{
    // The figures are the publishers' own: Vosk's model list (alphacephei.com/vosk/models),
    // NVIDIA's card of parakeet-tdt_ctc-0.6b-ja (huggingface.co/nvidia/parakeet-tdt_ctc-0.6b-ja),
    // whose CTC head sherpa-onnx publishes as an int8 ONNX model, and ReazonSpeech's card of
    // reazonspeech-k2-v2 (huggingface.co/reazon-research/reazonspeech-k2-v2).
    static const QList<CatalogModel> catalog{
        {QStringLiteral("small"), RecognitionEngine::Vosk, QStringLiteral("vosk-model-small-ja-0.22"),
         QStringLiteral("vosk-model-small-ja-0.22.zip"),
         QStringLiteral("https://alphacephei.com/vosk/models/vosk-model-small-ja-0.22.zip"), QString(), 300'000'000,
         QStringLiteral("標準（48 MB）"),
         QStringLiteral("Vosk small ja 0.22 · ダウンロード 48 MB · メモリ 約 0.3 GB · 文字誤り率 9.5 %（CSJ）、17.1 %（TEDx-JP）— Vosk 公開値"),
         true},
        {QStringLiteral("large"), RecognitionEngine::Vosk, ModelLocation::kLargeName,
         QStringLiteral("vosk-model-ja-0.22.zip"), QStringLiteral("https://alphacephei.com/vosk/models/vosk-model-ja-0.22.zip"),
         QString(), 4'000'000'000, QStringLiteral("Vosk 大（約1 GB）"),
         QStringLiteral("Vosk ja 0.22 · ダウンロード 約 1 GB · メモリ 数 GB · 文字誤り率 8.4 %（CSJ）— Vosk 公開値"), true},
        {QStringLiteral("parakeet-ja"), RecognitionEngine::SherpaOnnxNemoCtc,
         QStringLiteral("sherpa-onnx-nemo-parakeet-tdt_ctc-0.6b-ja-35000-int8"),
         QStringLiteral("sherpa-onnx-nemo-parakeet-tdt_ctc-0.6b-ja-35000-int8.tar.bz2"),
         QStringLiteral("https://github.com/k2-fsa/sherpa-onnx/releases/download/asr-models/"
                        "sherpa-onnx-nemo-parakeet-tdt_ctc-0.6b-ja-35000-int8.tar.bz2"),
         QString(), 1'500'000'000, QStringLiteral("高精度 Parakeet（625 MB）"),
         QStringLiteral("NVIDIA Parakeet TDT-CTC 0.6B ja（ReazonSpeech v2.0 35,000 時間で学習、CC BY 4.0）· モデル 625 MB · "
                        "メモリ 約 1 GB（目安）· 文字誤り率 6.4 %（JSUT basic5000）、7.1 %（Common Voice 8.0）、9.0 %（TEDxJP-10k）"
                        "— NVIDIA のモデルカード公開値\n辞書の語はモデルに渡さず、認識の後で辞書が書き直します"),
         false},
        {QStringLiteral("zipformer-ja"), RecognitionEngine::SherpaOnnxTransducer,
         QStringLiteral("sherpa-onnx-zipformer-ja-reazonspeech-2024-08-01"),
         QStringLiteral("sherpa-onnx-zipformer-ja-reazonspeech-2024-08-01.tar.bz2"),
         QStringLiteral("https://github.com/k2-fsa/sherpa-onnx/releases/download/asr-models/"
                        "sherpa-onnx-zipformer-ja-reazonspeech-2024-08-01.tar.bz2"),
         QString(), 1'500'000'000, QStringLiteral("語彙対応 Zipformer（約 160 MB）"),
         QStringLiteral("ReazonSpeech k2 v2（Zipformer の文字単位 RNN-T、1.59 億パラメータ、ReazonSpeech v2.0 で学習、"
                        "Apache 2.0）· int8 のエンコーダー 155 MB · 文字誤り率は公開元のカードに記載がありません"
                        "\n辞書の語を認識の探索に渡します（ホットワード）"),
         true},
    };
    return catalog;
}

const CatalogModel& catalogModel(const QString& id)
{
    for (const CatalogModel& model : modelCatalog())
        if (model.id == id)
            return model;
    return modelCatalog().first();
}

QString ModelLocation::defaultDirectory()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/velutanora/models/") + modelCatalog().first().folder;
}

QString ModelLocation::defaultUrl() { return modelCatalog().first().officialUrl; }

ModelLocation ModelLocation::forModel(const QString& id, const QString& directoryOverride, const QString& urlOverride)
{
    const CatalogModel& model = catalogModel(id);
    const CatalogModel& first = modelCatalog().first();
    const QString firstDirectory = directoryOverride.isEmpty() ? defaultDirectory() : directoryOverride;
    if (model.id == first.id)
        return {firstDirectory, urlOverride.isEmpty() ? first.officialUrl : urlOverride, first.sha256, first.maxUnpackedBytes};
    // An address set for the first model (a mirror, a test's server) serves the others from
    // the same folder.
    QString url = model.officialUrl;
    if (!urlOverride.isEmpty()) {
        QUrl sibling(urlOverride);
        const QString path = sibling.path();
        sibling.setPath(path.left(path.lastIndexOf(QLatin1Char('/')) + 1) + model.archive);
        url = sibling.toString();
    }
    return {QFileInfo(firstDirectory).absolutePath() + QLatin1Char('/') + model.folder, url, model.sha256,
            model.maxUnpackedBytes};
}

} // namespace vel
