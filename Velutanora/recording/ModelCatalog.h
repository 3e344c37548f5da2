#pragma once

#include <QList>
#include <QString>

namespace vel {

// The engines a model of the catalogue runs on.
enum class RecognitionEngine { Vosk, SherpaOnnxNemoCtc, SherpaOnnxTransducer };

// Where a model lives and where it comes from.
struct ModelLocation {
    QString directory; // $XDG_DATA_HOME/velutanora/models/<folder> unless set
    QString url;       // the published archive unless set
    QString sha256;    // the archive's SHA-256 in hex, where it is pinned; empty: not checked
    qint64 maxUnpackedBytes = 0; // what the model unpacks to at the most; 0: only the archive's size bounds it

    ModelLocation() = default;
    ModelLocation(QString directory, QString url, QString sha256 = {}, qint64 maxUnpackedBytes = 0)
        : directory(std::move(directory)), url(std::move(url)), sha256(std::move(sha256)), maxUnpackedBytes(maxUnpackedBytes)
    {
    }

    // The small Vosk model's folder and address: every other model sits beside them.
    static QString defaultDirectory();
    static QString defaultUrl();
    // The model of the catalogue with this id (an unknown one: the first); the overrides are the
    // hidden settings for the first model's folder and address (empty: the defaults), and the
    // other models are looked for beside them.
    static ModelLocation forModel(const QString& id, const QString& directoryOverride, const QString& urlOverride);
    static inline const QString kLargeName = QStringLiteral("vosk-model-ja-0.22");
};

// A model the card offers: what it is, where it comes from and what is published about it.
struct CatalogModel {
    QString id;         // the stored choice
    RecognitionEngine engine;
    QString folder;     // the installed folder's name
    QString archive;    // the published archive's file name
    QString officialUrl;
    QString sha256;     // pinned where known
    qint64 maxUnpackedBytes;
    QString label;      // the picker's text
    QString facts;      // size, memory and published accuracy, with the source
    bool vocabularyToEngine; // whether the dictionary's words are given to the engine
};

// The models in the order of the fallback: a missing or broken choice falls back to the first
// installed one.
const QList<CatalogModel>& modelCatalog();
// The model with this id; the first for an unknown one.
const CatalogModel& catalogModel(const QString& id);

} // namespace vel
