#pragma once

// Model archives for the installer tests, written with libarchive.
#include <QByteArray>
#include <QList>
#include <QString>

#include <archive.h>
#include <archive_entry.h>

namespace vel::test {

struct Entry {
    QString name;
    QByteArray content;
    bool symlink = false;
};

inline QByteArray makeZip(const QList<Entry>& entries)
{
    QByteArray out(1 << 20, '\0');
    size_t used = 0;
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_memory(a, out.data(), static_cast<size_t>(out.size()), &used);
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.toUtf8().constData());
        if (e.symlink) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.content.constData());
            archive_entry_set_perm(entry, 0777);
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, e.content.size());
        }
        archive_write_header(a, entry);
        if (!e.symlink)
            archive_write_data(a, e.content.constData(), static_cast<size_t>(e.content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    out.truncate(static_cast<qsizetype>(used));
    return out;
}

inline QByteArray goodModel()
{
    return makeZip({{"vosk-model-small-ja-0.22/stub-model", ""},
                    {"vosk-model-small-ja-0.22/script.txt", "0.5 final こんにちは\n"},
                    {"vosk-model-small-ja-0.22/am/final.mdl", QByteArray(5000, 'm')}});
}

} // namespace vel::test
