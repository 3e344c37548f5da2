#include "recording/ModelInstaller.h"

#include "common/Logger.h"
#include "common/TransportError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

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

QString ModelInstaller::partialPath() const
{
    const QFileInfo target(m_location.directory);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".zip.part");
}

Task<void> ModelInstaller::finishing(Task<void> work)
{
    std::exception_ptr failure;
    try {
        co_await std::move(work);
    } catch (...) {
        failure = std::current_exception();
    }
    if (onFinished)
        onFinished(describeError(failure));
    if (failure) {
        m_log.line(QStringLiteral("⚠️ [Vosk] model installation failed: ") + describeError(failure));
        std::rethrow_exception(failure);
    }
}

Task<void> ModelInstaller::downloadAndInstall() { return finishing(run()); }

void ModelInstaller::cancel()
{
    m_cancelled = true;
    if (m_reply)
        m_reply->abort();
}

Task<void> ModelInstaller::installArchive(QString zipPath) { return finishing(install(zipPath)); }

Task<void> ModelInstaller::run()
{
    const QString parent = QFileInfo(m_location.directory).absolutePath();
    if (!QDir().mkpath(parent))
        throw ModelInstallError(QStringLiteral("保存先フォルダを作れません: %1").arg(parent));
    // A download that stopped is kept beside the target and resumed, not started over.
    const QString part = partialPath();
    bool restarted = false;
    for (;;) {
        const DownloadEnd end = co_await download(part);
        if (end == DownloadEnd::Complete)
            break;
        // The server no longer has the range we hold: start once from the beginning.
        QFile::remove(part);
        if (restarted)
            throw ModelInstallError(QStringLiteral("ダウンロードを再開できません"));
        restarted = true;
    }
    std::exception_ptr failure;
    try {
        co_await install(part);
    } catch (...) {
        failure = std::current_exception();
    }
    // A complete download that does not install is of no use for a retry.
    QFile::remove(part);
    if (failure)
        std::rethrow_exception(failure);
}

Task<ModelInstaller::DownloadEnd> ModelInstaller::download(QString part)
{
    QFile file(part);
    if (!file.open(QIODevice::ReadWrite))
        throw ModelInstallError(QStringLiteral("ダウンロード先に書き込めません: %1").arg(file.errorString()));
    const qint64 kept = file.size();
    m_log.line(kept > 0 ? QStringLiteral("📥 [Vosk] resuming %1 at %2 bytes").arg(m_location.url).arg(kept)
                        : QStringLiteral("📥 [Vosk] downloading %1").arg(m_location.url));
    QNetworkRequest request{QUrl(m_location.url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    if (kept > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(kept) + "-");
    if (m_cancelled)
        throw ModelInstallError(QStringLiteral("ダウンロードをキャンセルしました"));
    QPointer<QNetworkReply> reply = m_network.get(request);
    m_reply = reply;
    Completion<Unit> done;
    auto state = std::make_shared<ReplyState>();
    // A server that stops sending ends the download with a reason instead of a wait forever.
    auto* stall = new QTimer(reply);
    stall->setSingleShot(true);
    stall->setInterval(stallTimeoutMs);
    QObject::connect(stall, &QTimer::timeout, reply, [reply, state] {
        state->stalled = true;
        reply->abort();
    });
    stall->start();
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, state, &file, kept] {
        if (state->decided)
            return;
        state->decided = true;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // 206 continues the kept part; anything else starts the file over.
        state->offset = status == 206 ? kept : 0;
        if (status != 206) {
            file.resize(0);
        }
        file.seek(state->offset);
        state->held = state->offset;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        state->total = length > 0 && (status == 200 || status == 206) ? state->offset + length : 0;
    });
    // Progress is counted here: Qt's downloadProgress is throttled and may say nothing about a
    // stream that stops early.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, reply, state, &file, stall] {
        stall->start();
        const QByteArray chunk = reply->readAll();
        if (state->writeFailed.isEmpty() && file.write(chunk) != chunk.size()) {
            state->writeFailed = file.errorString();
            reply->abort();
            return;
        }
        state->held += chunk.size();
        if (state->total > 0 && onProgress)
            onProgress(static_cast<int>(std::min(state->held, state->total) * 100 / state->total));
        if (onBytes)
            onBytes(state->held, state->total);
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [done] { done.resolve(Unit{}); });
    done.setOnCancel([reply] {
        if (reply)
            reply->abort();
    });
    co_await done;
    const QNetworkReply::NetworkError error = reply->error();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    reply->deleteLater();
    if (!state->writeFailed.isEmpty())
        throw ModelInstallError(QStringLiteral("ディスクに書き込めません: %1").arg(state->writeFailed));
    if (status == 416)
        co_return DownloadEnd::RangeRefused;
    if (status != 0 && status != 200 && status != 206) {
        file.close();
        QFile::remove(part);
        throw ModelInstallError(QStringLiteral("ダウンロードに失敗しました (HTTP %1)").arg(status));
    }
    if (m_cancelled)
        throw ModelInstallError(QStringLiteral("ダウンロードをキャンセルしました"));
    if (state->stalled)
        throw ModelInstallError(QStringLiteral("ダウンロードが%1秒間止まったままでした。再試行すると続きから再開します")
                                    .arg(stallTimeoutMs / 1000.0));
    if (error != QNetworkReply::NoError)
        throw ModelInstallError(QStringLiteral("ダウンロードに失敗しました: ")
                                + TransportError(TransportError::kindFor(error)).description());
    if (file.write(rest) != rest.size() || !file.flush())
        throw ModelInstallError(QStringLiteral("ディスクに書き込めません: %1").arg(file.errorString()));
    if (!rest.isEmpty()) {
        state->held += rest.size();
        if (state->total > 0 && onProgress)
            onProgress(static_cast<int>(std::min(state->held, state->total) * 100 / state->total));
        if (onBytes)
            onBytes(state->held, state->total);
    }
    co_return DownloadEnd::Complete;
}

Task<void> ModelInstaller::install(QString zipPath)
{
    const QString parent = QFileInfo(m_location.directory).absolutePath();
    if (!QDir().mkpath(parent))
        throw ModelInstallError(QStringLiteral("保存先フォルダを作れません: %1").arg(parent));
    QTemporaryDir unpacked(parent + QStringLiteral("/.velutanora-unpack-XXXXXX"));
    if (!unpacked.isValid())
        throw ModelInstallError(QStringLiteral("展開先を作れません"));
    const QString unpackFailure = unpack(zipPath, unpacked.path());
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
