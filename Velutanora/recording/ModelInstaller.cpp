#include "recording/ModelInstaller.h"

#include "common/Logger.h"
#include "correction/GeminiService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <thread>

#include <archive.h>
#include <archive_entry.h>

namespace vel {

ModelInstaller::ModelInstaller(Logger& log, QNetworkAccessManager& network, ModelLocation location,
                               std::shared_ptr<VoskApi> api)
    : m_log(log), m_network(network), m_location(std::move(location)), m_api(std::move(api))
{
}

QString ModelInstaller::unpack(const QString& zipPath, const QString& destination)
{
    archive* in = archive_read_new();
    archive_read_support_format_zip(in);
    if (archive_read_open_filename(in, QFile::encodeName(zipPath).constData(), 64 * 1024) != ARCHIVE_OK) {
        const QString why = QString::fromLocal8Bit(archive_error_string(in));
        archive_read_free(in);
        return why;
    }
    const QDir root(destination);
    QString failure;
    archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            failure = QString::fromLocal8Bit(archive_error_string(in));
            break;
        }
        const QString name = QString::fromUtf8(archive_entry_pathname(entry));
        const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (name.startsWith(QLatin1Char('/')) || parts.contains(QStringLiteral("..")) || parts.isEmpty()) {
            failure = QStringLiteral("unsafe entry %1").arg(name);
            break;
        }
        const mode_t type = archive_entry_filetype(entry);
        const QString path = root.filePath(parts.join(QLatin1Char('/')));
        if (type == AE_IFDIR) {
            if (!QDir().mkpath(path)) {
                failure = QStringLiteral("cannot create %1").arg(path);
                break;
            }
            continue;
        }
        if (type != AE_IFREG) {
            failure = QStringLiteral("entry %1 is not a regular file").arg(name);
            break;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            failure = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
            break;
        }
        char buffer[64 * 1024];
        for (;;) {
            const la_ssize_t n = archive_read_data(in, buffer, sizeof buffer);
            if (n < 0) {
                failure = QString::fromLocal8Bit(archive_error_string(in));
                break;
            }
            if (n == 0)
                break;
            if (out.write(buffer, n) != n) {
                failure = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
                break;
            }
        }
        if (!out.flush() && failure.isEmpty())
            failure = QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
        if (!failure.isEmpty())
            break;
    }
    archive_read_free(in);
    return failure;
}

Task<void> ModelInstaller::downloadAndInstall()
{
    std::exception_ptr failure;
    try {
        co_await run();
    } catch (...) {
        failure = std::current_exception();
    }
    if (onFinished)
        onFinished();
    if (failure) {
        m_log.line(QStringLiteral("⚠️ [Vosk] model installation failed: ") + describeError(failure));
        std::rethrow_exception(failure);
    }
}

Task<void> ModelInstaller::run()
{
    const QFileInfo target(m_location.directory);
    const QString parent = target.absolutePath();
    if (!QDir().mkpath(parent))
        throw ModelInstallError(QStringLiteral("保存先フォルダを作れません: %1").arg(parent));

    QTemporaryFile zip(parent + QStringLiteral("/.velutanora-download-XXXXXX.zip"));
    if (!zip.open())
        throw ModelInstallError(QStringLiteral("ダウンロード先に書き込めません: %1").arg(zip.errorString()));

    m_log.line(QStringLiteral("📥 [Vosk] downloading %1").arg(m_location.url));
    QNetworkRequest request{QUrl(m_location.url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(60000);
    QPointer<QNetworkReply> reply = m_network.get(request);
    Completion<Unit> done;
    auto writeFailed = std::make_shared<QString>();
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, &zip, writeFailed] {
        const QByteArray chunk = reply->readAll();
        if (writeFailed->isEmpty() && zip.write(chunk) != chunk.size()) {
            *writeFailed = zip.errorString();
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [this](qint64 received, qint64 total) {
        if (total > 0 && onProgress)
            onProgress(static_cast<int>(received * 100 / total));
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [done] { done.resolve(Unit{}); });
    done.setOnCancel([reply] {
        if (reply)
            reply->abort();
    });
    co_await done;
    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray rest = reply->readAll();
    reply->deleteLater();
    if (!writeFailed->isEmpty())
        throw ModelInstallError(QStringLiteral("ディスクに書き込めません: %1").arg(*writeFailed));
    if (status != 0 && status != 200)
        throw ModelInstallError(QStringLiteral("ダウンロードに失敗しました (HTTP %1)").arg(status));
    if (error != QNetworkReply::NoError)
        throw ModelInstallError(QStringLiteral("ダウンロードに失敗しました: ")
                                + TransportError(TransportError::kindFor(error)).description());
    if (zip.write(rest) != rest.size() || !zip.flush())
        throw ModelInstallError(QStringLiteral("ディスクに書き込めません: %1").arg(zip.errorString()));

    QTemporaryDir unpacked(parent + QStringLiteral("/.velutanora-unpack-XXXXXX"));
    if (!unpacked.isValid())
        throw ModelInstallError(QStringLiteral("展開先を作れません"));
    const QString unpackFailure = unpack(zip.fileName(), unpacked.path());
    if (!unpackFailure.isEmpty())
        throw ModelInstallError(QStringLiteral("モデルのアーカイブが壊れています: %1").arg(unpackFailure));

    // The zip holds one folder with the model; accept a model at the top as well.
    QString modelRoot = unpacked.path();
    const QStringList top = QDir(unpacked.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (top.size() == 1 && QFileInfo(QDir(unpacked.path()).filePath(top.first())).isDir())
        modelRoot = QDir(unpacked.path()).filePath(top.first());

    // Loading a model takes a while: off the main thread.
    void* model = nullptr;
    if (m_api) {
        Completion<void*> loaded;
        std::thread([api = m_api, modelRoot, loaded] {
            void* m = api->modelNew(QFile::encodeName(modelRoot).constData());
            postToMainLoop([loaded, m] { loaded.resolve(m); });
        }).detach();
        model = co_await loaded;
    }
    if (!model)
        throw ModelInstallError(QStringLiteral("ダウンロードしたファイルは音声認識モデルではありません"));
    m_api->modelFree(model);

    if (QFileInfo::exists(m_location.directory))
        QDir(m_location.directory).removeRecursively();
    if (!QDir().rename(modelRoot, m_location.directory))
        throw ModelInstallError(QStringLiteral("モデルを %1 に置けません").arg(m_location.directory));
    m_log.line(QStringLiteral("✅ [Vosk] model installed in %1").arg(m_location.directory));
    if (onInstalled) {
        Task<bool> load = onInstalled(m_location.directory);
        const bool loaded = co_await std::move(load);
        if (!loaded)
            throw ModelInstallError(QStringLiteral("モデルを読み込めません"));
    }
}

} // namespace vel
