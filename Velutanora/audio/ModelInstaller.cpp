#include "audio/ModelInstaller.h"

#include "common/Logger.h"
#include "common/TransportError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTemporaryDir>
#include <QCryptographicHash>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

namespace vel {

ModelInstaller::ModelInstaller(Logger& log, QNetworkAccessManager& network, ModelLocation location, FolderCheck check)
    : m_log(log), m_network(network), m_location(std::move(location)), m_check(std::move(check))
{
}

namespace {

QString sizeText(qint64 bytes) { return QStringLiteral("%1 MB").arg(QString::number(static_cast<double>(bytes) / 1e6, 'f', 1)); }

// Writes all of it, or says why not in words (a full disk included).
ModelInstaller::Unpacked writeAll(int fd, const char* data, qint64 size, const QString& path)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT))
            return {ModelInstaller::Unpacked::Kind::DiskFull, path};
        if (n <= 0)
            return {ModelInstaller::Unpacked::Kind::WriteFailed, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
        data += n;
        size -= n;
    }
    return {};
}

} // namespace

ModelInstaller::Unpacked ModelInstaller::unpack(const QString& zipPath, const QString& destination, qint64 maxBytes)
{
    using Kind = Unpacked::Kind;
    archive* in = archive_read_new();
    // Only the zip reader that starts from the central directory: a zip cut short (at an entry
    // boundary, too) has none, where the streaming reader would take what it finds as complete.
    // A compressed tar cut short fails in its decompressor.
    archive_read_support_format_zip_seekable(in);
    archive_read_support_format_tar(in);
    archive_read_support_filter_gzip(in);
    archive_read_support_filter_bzip2(in);
    archive_read_support_filter_xz(in);
    if (archive_read_open_filename(in, QFile::encodeName(zipPath).constData(), 64 * 1024) != ARCHIVE_OK) {
        const QString why = QString::fromLocal8Bit(archive_error_string(in));
        archive_read_free(in);
        return {Kind::Corrupt, why};
    }
    const QDir root(destination);
    Unpacked result;
    qint64 written = 0;
    archive_entry* entry = nullptr;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            result = {Kind::Corrupt, QString::fromLocal8Bit(archive_error_string(in))};
            break;
        }
        const QString name = QString::fromUtf8(archive_entry_pathname(entry));
        const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (name.startsWith(QLatin1Char('/')) || parts.contains(QStringLiteral("..")) || parts.isEmpty()) {
            result = {Kind::Corrupt, QStringLiteral("unsafe entry %1").arg(name)};
            break;
        }
        const mode_t type = archive_entry_filetype(entry);
        const QString path = root.filePath(parts.join(QLatin1Char('/')));
        if (type == AE_IFDIR) {
            if (!QDir().mkpath(path)) {
                result = {Kind::WriteFailed, QStringLiteral("cannot create %1").arg(path)};
                break;
            }
            continue;
        }
        if (type != AE_IFREG) {
            result = {Kind::Corrupt, QStringLiteral("entry %1 is not a regular file").arg(name)};
            break;
        }
        // The size the directory announces is checked before anything is written, the bytes
        // themselves as they come (an entry may lie about its size).
        if (archive_entry_size_is_set(entry) && written + archive_entry_size(entry) > maxBytes) {
            result = {Kind::TooLarge, sizeText(written + archive_entry_size(entry))};
            break;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            result = {errno == ENOSPC ? Kind::DiskFull : Kind::WriteFailed,
                      QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
            break;
        }
        for (;;) {
            const la_ssize_t n = archive_read_data(in, buffer.data(), buffer.size());
            if (n < 0) {
                result = {Kind::Corrupt, QString::fromLocal8Bit(archive_error_string(in))};
                break;
            }
            if (n == 0)
                break;
            written += n;
            if (written > maxBytes) {
                result = {Kind::TooLarge, sizeText(written)};
                break;
            }
            result = writeAll(fd, buffer.data(), n, path);
            if (result.kind != Kind::Ok)
                break;
        }
        if (::close(fd) != 0 && result.kind == Kind::Ok)
            result = {errno == ENOSPC ? Kind::DiskFull : Kind::WriteFailed, path};
        if (result.kind != Kind::Ok)
            break;
    }
    archive_read_free(in);
    return result;
}

QString ModelInstaller::sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

ModelInstaller::UnpackLimit ModelInstaller::unpackLimit(const QString& zipPath, const QString& destination) const
{
    // A model compresses a little; a zip bomb a thousandfold. Neither the model's own bound
    // nor the disk's free space (less a margin for everything else, a tenth of the archive) is
    // passed.
    constexpr qint64 kRatio = 10;
    constexpr qint64 kFloor = 64'000'000;
    const qint64 archive = QFileInfo(zipPath).size();
    UnpackLimit limit;
    limit.bytes = std::max(kFloor, archive * kRatio);
    if (m_location.maxUnpackedBytes > 0)
        limit.bytes = std::min(limit.bytes, m_location.maxUnpackedBytes);
    if (const qint64 free = freeBytes(destination); free >= 0) {
        limit.free = free;
        const qint64 margin = std::clamp<qint64>(archive / 10, 1'000'000, 100'000'000);
        const qint64 room = std::max<qint64>(0, limit.free - margin);
        if (room < limit.bytes) {
            limit.bytes = room;
            limit.byTheDisk = true;
        }
    }
    return limit;
}

static QString megabytes(qint64 bytes) { return QString::number(static_cast<double>(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB"); }

qint64 ModelInstaller::freeBytes(const QString& folder) const
{
    if (freeSpace)
        return freeSpace(folder);
    const QStorageInfo disk(folder);
    return disk.isValid() ? disk.bytesAvailable() : -1;
}

QString ModelInstaller::partialPath() const
{
    const QFileInfo target(m_location.directory);
    const QString archive = QUrl(m_location.url).fileName();
    const QString suffix = archive.endsWith(QLatin1String(".tar.bz2")) ? QStringLiteral(".tar.bz2") : QStringLiteral(".zip");
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + suffix + QStringLiteral(".part");
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
        m_log.line(QStringLiteral("⚠️ [Model] installation failed: ") + describeError(failure));
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

Task<void> ModelInstaller::installArchive(QString zipPath) { return finishing(install(zipPath, false)); }

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
        co_await install(part, true);
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
    m_log.line(kept > 0 ? QStringLiteral("📥 [Model] resuming %1 at %2 bytes").arg(m_location.url).arg(kept)
                        : QStringLiteral("📥 [Model] downloading %1").arg(m_location.url));
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
    // One that drips bytes: too little progress in a window ends it too.
    auto* slow = new QTimer(reply);
    slow->setInterval(slowWindowMs);
    auto windowStart = std::make_shared<qint64>(-1);
    const qint64 minimum = slowWindowMinimumBytes;
    QObject::connect(slow, &QTimer::timeout, reply, [reply, state, windowStart, minimum] {
        if (*windowStart >= 0 && state->held - *windowStart < minimum) {
            state->slow = true;
            reply->abort();
        }
        *windowStart = state->held;
    });
    slow->start();
    *windowStart = kept;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this, reply, state, &file, kept] {
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
        // The download and then its unpacked model must fit: refused now, not at a full disk.
        const qint64 free = freeBytes(QFileInfo(file.fileName()).absolutePath());
        if (state->total > 0 && free >= 0 && (state->total - state->offset) + state->total > free) {
            state->needed = (state->total - state->offset) + state->total;
            state->free = free;
            reply->abort();
        }
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
    if (state->needed > 0) {
        file.close();
        QFile::remove(part);
        throw ModelInstallError(QStringLiteral("ディスクの空きが足りません（ダウンロードと展開に %1 必要です。空き: %2）")
                                    .arg(megabytes(state->needed), megabytes(state->free)));
    }
    if (!state->writeFailed.isEmpty()) {
        // Most often the disk is full: what was written is of no use then, and takes its room.
        file.close();
        const qint64 free = freeBytes(QFileInfo(part).absolutePath());
        QFile::remove(part);
        throw ModelInstallError(QStringLiteral("ディスクに書き込めません（空き: %1）: %2").arg(megabytes(free), state->writeFailed));
    }
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
    if (state->slow)
        throw ModelInstallError(QStringLiteral("ダウンロードがほとんど進みません（%1秒で %2 KB 未満）。再試行すると続きから再開します")
                                    .arg(slowWindowMs / 1000.0)
                                    .arg(slowWindowMinimumBytes / 1024));
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
    // A connection that ends early without an error: what came is kept for a resume.
    if (state->total > 0 && state->held != state->total)
        throw ModelInstallError(QStringLiteral("ダウンロードが途中で終わりました（%1 / %2 バイト）。再試行すると続きから再開します")
                                    .arg(state->held)
                                    .arg(state->total));
    co_return DownloadEnd::Complete;
}

Task<void> ModelInstaller::install(QString zipPath, bool verifyChecksum)
{
    const QString parent = QFileInfo(m_location.directory).absolutePath();
    if (!QDir().mkpath(parent))
        throw ModelInstallError(QStringLiteral("保存先フォルダを作れません: %1").arg(parent));
    QTemporaryDir unpacked(parent + QStringLiteral("/.velutanora-unpack-XXXXXX"));
    if (!unpacked.isValid())
        throw ModelInstallError(QStringLiteral("展開先を作れません"));

    // Checking and unpacking take seconds for a real model: off the main thread.
    Completion<std::pair<QString, Unpacked>> done;
    const QString expected = verifyChecksum ? m_location.sha256 : QString();
    const UnpackLimit bound = unpackLimit(zipPath, parent);
    const qint64 limit = bound.bytes;
    std::thread([zipPath, destination = unpacked.path(), expected, limit, done] {
        const QString actual = expected.isEmpty() ? QString() : sha256Of(zipPath);
        Unpacked result;
        if (expected.isEmpty() || actual == expected)
            result = unpack(zipPath, destination, limit);
        postToMainLoop([done, actual, result] { done.resolve({actual, result}); });
    }).detach();
    const std::pair<QString, Unpacked> outcome = co_await done;
    if (!expected.isEmpty() && outcome.first != expected)
        throw ModelInstallError(QStringLiteral("ダウンロードしたファイルが公開されているモデルと一致しません（SHA-256 が違います）"));
    switch (outcome.second.kind) {
    case Unpacked::Kind::Ok: break;
    case Unpacked::Kind::Corrupt:
        throw ModelInstallError(QStringLiteral("モデルのアーカイブが壊れています: %1").arg(outcome.second.detail));
    case Unpacked::Kind::TooLarge:
        if (bound.byTheDisk)
            throw ModelInstallError(QStringLiteral("ディスクの空きが足りないため、モデルを展開できません（展開には %1 を超える空きが必要です。空き: %2）")
                                        .arg(megabytes(bound.bytes), megabytes(bound.free)));
        throw ModelInstallError(QStringLiteral("展開すると %1 を超えます。このモデルには大きすぎます").arg(outcome.second.detail));
    case Unpacked::Kind::DiskFull:
        throw ModelInstallError(QStringLiteral("ディスクの空きが足りないため、モデルを展開できません（空き: %1）")
                                    .arg(megabytes(freeBytes(parent))));
    case Unpacked::Kind::WriteFailed:
        throw ModelInstallError(QStringLiteral("モデルを展開できません: %1").arg(outcome.second.detail));
    }

    // The zip holds one folder with the model; accept a model at the top as well.
    QString modelRoot = unpacked.path();
    const QStringList top = QDir(unpacked.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (top.size() == 1 && QFileInfo(QDir(unpacked.path()).filePath(top.first())).isDir())
        modelRoot = QDir(unpacked.path()).filePath(top.first());

    // The new model must load (in an engine process of its own) before the one in place goes.
    if (m_check) {
        Task<QString> check = m_check(modelRoot);
        const QString why = co_await std::move(check);
        if (!why.isEmpty())
            throw ModelInstallError(QStringLiteral("ダウンロードしたファイルは使える音声認識モデルではありません（%1）").arg(why));
    }

    // The model in place is moved aside, and back should the new one not move in.
    const QString aside = unpacked.path() + QStringLiteral("-previous");
    const bool hadOne = QFileInfo::exists(m_location.directory);
    if (hadOne && !QDir().rename(m_location.directory, aside))
        throw ModelInstallError(QStringLiteral("%1 を置き換えられません").arg(m_location.directory));
    if (!QDir().rename(modelRoot, m_location.directory)) {
        if (hadOne)
            QDir().rename(aside, m_location.directory);
        throw ModelInstallError(QStringLiteral("モデルを %1 に置けません").arg(m_location.directory));
    }
    if (hadOne)
        QDir(aside).removeRecursively();
    m_log.line(QStringLiteral("✅ [Model] installed in %1").arg(m_location.directory));
    if (onInstalled) {
        Task<QString> load = onInstalled(m_location.directory);
        const QString failure = co_await std::move(load);
        if (!failure.isEmpty())
            throw ModelInstallError(QStringLiteral("モデルを読み込めません: ") + failure);
    }
}

} // namespace vel
