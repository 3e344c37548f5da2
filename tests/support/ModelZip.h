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

// A zip, or a .tar.bz2 as sherpa-onnx publishes its models.
inline QByteArray makeArchive(const QList<Entry>& entries, bool tarBz2)
{
    qsizetype capacity = 1 << 20;
    for (const Entry& e : entries)
        capacity += e.content.size() * 2;
    QByteArray out(capacity, '\0');
    size_t used = 0;
    archive* a = archive_write_new();
    if (tarBz2) {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_bzip2(a);
    } else {
        archive_write_set_format_zip(a);
    }
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

inline QByteArray makeZip(const QList<Entry>& entries) { return makeArchive(entries, false); }
inline QByteArray makeTarBz2(const QList<Entry>& entries) { return makeArchive(entries, true); }

// A zip as Info-ZIP writes one (the published models are such): entries stored, their sizes
// in the local headers and no data descriptors, so a reader can stop cleanly between entries.
inline QByteArray makeStoredZip(const QList<Entry>& entries)
{
    const auto crc32 = [](const QByteArray& data) {
        quint32 crc = 0xffffffffu;
        for (char c : data) {
            crc ^= static_cast<quint8>(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    const auto le = [](QByteArray& out, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    QByteArray out;
    QByteArray directory;
    for (const Entry& e : entries) {
        const QByteArray name = e.name.toUtf8();
        const quint32 offset = static_cast<quint32>(out.size());
        const quint32 crc = crc32(e.content);
        const quint32 size = static_cast<quint32>(e.content.size());
        out += "PK\x03\x04";
        le(out, 10, 2); le(out, 0, 2); le(out, 0, 2); le(out, 0, 4); le(out, crc, 4); le(out, size, 4); le(out, size, 4);
        le(out, static_cast<quint32>(name.size()), 2); le(out, 0, 2);
        out += name + e.content;
        directory += "PK\x01\x02";
        le(directory, 0x031e, 2); le(directory, 10, 2); le(directory, 0, 2); le(directory, 0, 2); le(directory, 0, 4);
        le(directory, crc, 4); le(directory, size, 4); le(directory, size, 4);
        le(directory, static_cast<quint32>(name.size()), 2); le(directory, 0, 2); le(directory, 0, 2); le(directory, 0, 2);
        le(directory, 0, 2); le(directory, 0100644u << 16, 4); le(directory, offset, 4);
        directory += name;
    }
    const quint32 start = static_cast<quint32>(out.size());
    out += directory;
    out += "PK\x05\x06";
    le(out, 0, 2); le(out, 0, 2); le(out, static_cast<quint32>(entries.size()), 2); le(out, static_cast<quint32>(entries.size()), 2);
    le(out, static_cast<quint32>(directory.size()), 4); le(out, start, 4); le(out, 0, 2);
    return out;
}

inline QByteArray goodModel()
{
    return makeZip({{"vosk-model-small-ja-0.22/stub-model", ""},
                    {"vosk-model-small-ja-0.22/script.txt", "0.5 final こんにちは\n"},
                    {"vosk-model-small-ja-0.22/am/final.mdl", QByteArray(5000, 'm')}});
}

} // namespace vel::test
