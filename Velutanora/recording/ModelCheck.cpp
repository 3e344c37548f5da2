#include "recording/ModelCheck.h"

#include "common/Error.h"
#include "recording/SpeechManager.h"

#include <QPointer>

#include <algorithm>

namespace vel {

ModelCheck::ModelCheck(SpeechRecognizer& recognizer, QObject* parent) : QObject(parent), m_recognizer(recognizer) {}

Task<void> ModelCheck::ensureJapanese(std::function<void()> checked)
{
    QPointer<ModelCheck> self(this);
    const QStringList locales = co_await m_recognizer.supportedLocales();
    const bool japanese = std::any_of(locales.begin(), locales.end(),
                                      [](const QString& l) { return l.startsWith(QLatin1String("ja")); });
    if (!japanese) {
        emit status(QStringLiteral("⚠️ 日本語はサポートされていません"));
        throw SpeechError(SpeechError::Kind::LocaleNotSupported);
    }
    const ModelStatus model = co_await m_recognizer.modelStatus(kLocale);
    bool download = false;
    switch (model) {
    case ModelStatus::Unsupported:
        emit status(m_recognizer.loadFailure().isEmpty() ? QStringLiteral("⚠️ 日本語モデルはサポートされていません")
                                                         : QStringLiteral("⚠️ ") + m_recognizer.loadFailure());
        throw SpeechError(SpeechError::Kind::LocaleNotSupported);
    case ModelStatus::Supported:
        emit status(QStringLiteral("📥 日本語モデルをダウンロード中..."));
        download = true;
        break;
    case ModelStatus::Downloading:
        emit status(QStringLiteral("📥 日本語モデル ダウンロード中（進行中）..."));
        download = true;
        break;
    case ModelStatus::Installed:
        // Installed, but maybe another model than the one chosen: then that is what to say.
        emit status(m_recognizer.fallbackNotice().isEmpty() ? QStringLiteral("✅ 日本語モデル インストール済み")
                                                            : m_recognizer.fallbackNotice());
        break;
    case ModelStatus::Unknown:
        // A model that is there but does not load says why.
        emit status(m_recognizer.loadFailure().isEmpty()
                        ? QStringLiteral("⚠️ モデル状態不明")
                        : QStringLiteral("⚠️ 日本語モデルを読み込めません: ") + m_recognizer.loadFailure());
        break;
    }
    if (download) {
        const std::shared_ptr<ModelInstallation> installation = co_await m_recognizer.installationRequest(kLocale);
        if (!installation) {
            if (checked)
                checked();
            co_return;
        }
        const QString downloading = model == ModelStatus::Supported ? QStringLiteral("📥 日本語モデルをダウンロード中...")
                                                                     : QStringLiteral("📥 日本語モデル ダウンロード中（進行中）...");
        installation->onProgress = [self, downloading](int percent) {
            if (!self)
                return;
            self->m_downloadPercent = percent;
            emit self->status(downloading + QStringLiteral(" %1%").arg(percent));
        };
        m_downloadPercent = 0;
        if (checked)
            checked();
        std::exception_ptr failure;
        try {
            co_await installation->downloadAndInstall();
        } catch (...) {
            failure = std::current_exception();
        }
        m_downloadPercent.reset();
        installation->onProgress = nullptr;
        if (failure) {
            // A status that still said "downloading" would be a lie: say what went wrong.
            emit status(QStringLiteral("⚠️ 日本語モデルのダウンロードに失敗しました: ") + describeError(failure));
            std::rethrow_exception(failure);
        }
        emit status(QStringLiteral("✅ 日本語モデル ダウンロード完了"));
    }
    if (checked)
        checked();
}

} // namespace vel
