#pragma once

#include "common/Error.h"
#include "recording/SpeechRecognizer.h"
#include "recording/ModelCatalog.h"

#include <QNetworkReply>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace vel {

class Logger;

// Downloads the model archive (a zip or a .tar.bz2), unpacks it (every entry checked) into a
// temporary folder beside the target, checks that it is a model of its engine, and only then
// renames it into place: an interrupted or
// corrupt download never leaves half a model behind. A download that stops is kept as a hidden
// part file beside the target and resumed with an HTTP range; everything else a failure wrote
// is removed.
class ModelInstaller final : public ModelInstallation {
public:
    // check says why an unpacked folder is not a model that loads (empty: it is), as the engine
    // process that loads it finds. Without one, any archive's content is taken.
    using FolderCheck = std::function<Task<QString>(const QString& directory)>;
    ModelInstaller(Logger& log, QNetworkAccessManager& network, ModelLocation location, FolderCheck check);

    Task<void> downloadAndInstall() override;
    // The same unpack, check and rename for an archive the user fetched elsewhere.
    Task<void> installArchive(QString zipPath);

    // Bytes held and expected (0 while unknown), while downloading (main thread).
    std::function<void(qint64 received, qint64 total)> onBytes;
    // How long the server may send nothing before the download fails.
    int stallTimeoutMs = 30000;
    // Where a stopped download is kept for the next attempt.
    QString partialPath() const;
    // The free bytes of the disk holding a folder (-1: unknown); unset, the system's answer.
    std::function<qint64(const QString& folder)> freeSpace;

    // Loads the installed model into the recogniser: empty once loaded, otherwise why not.
    std::function<Task<QString>(const QString& directory)> onInstalled;
    // Called once at the end, with the reason of a failure (empty on success).
    std::function<void(const QString& failure)> onFinished;
    // Stops a download under way; it fails as cancelled and keeps its part for a resume.
    void cancel();

    static Task<QString> answer(QString value) { co_return value; }

    // What an unpack did: Ok, or why not (detail: the entry, the size, the error).
    struct Unpacked {
        enum class Kind { Ok, Corrupt, TooLarge, DiskFull, WriteFailed };
        Kind kind = Kind::Ok;
        QString detail;
    };
    // Unpacks a zip (read from its central directory) or a tar (plain, gzip, bzip2 or xz) into `destination`, refusing absolute paths, "..",
    // links, special files and more than maxBytes in all. Runs on any thread.
    static Unpacked unpack(const QString& zipPath, const QString& destination, qint64 maxBytes);
    static QString sha256Of(const QString& path);

    // A download with less than this many bytes in a window of this length fails (a server
    // that drips bytes would keep it, and the dictations waiting for it, going for ever).
    int slowWindowMs = 60000;
    qint64 slowWindowMinimumBytes = 64 * 1024;

private:
    enum class DownloadEnd { Complete, RangeRefused };
    struct ReplyState {
        bool decided = false;
        bool stalled = false;
        bool slow = false;
        qint64 offset = 0;
        qint64 held = 0;
        qint64 total = 0;
        QString writeFailed;
        qint64 needed = 0; // the disk cannot hold the download and its model: what they need
        qint64 free = 0;
    };
    Task<void> finishing(Task<void> work);
    Task<void> run();
    Task<DownloadEnd> download(QString part);
    Task<void> install(QString zipPath, bool verifyChecksum);
    // The most an archive may unpack to here: bounded by the model, the archive's size and the disk.
    struct UnpackLimit {
        qint64 bytes = 0;
        bool byTheDisk = false; // the disk's free space is the bound
        qint64 free = 0;
    };
    UnpackLimit unpackLimit(const QString& zipPath, const QString& destination) const;
    qint64 freeBytes(const QString& folder) const;
    QPointer<QNetworkReply> m_reply;
    bool m_cancelled = false;
    Logger& m_log;
    QNetworkAccessManager& m_network;
    ModelLocation m_location;
    FolderCheck m_check;
};

class ModelInstallError : public Error {
public:
    using Error::Error;
};

} // namespace vel
