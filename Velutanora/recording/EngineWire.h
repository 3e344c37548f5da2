#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vel::EngineWire {

// What passes between the program and its engine process, one frame at a time: a 4-byte
// little-endian length, then the message: a type byte and its fields. Integers are little-endian,
// texts UTF-8 after a 4-byte length; audio is 16 kHz 16-bit mono PCM.
enum class Type : quint8 {
    // The program's requests.
    Load = 1, // folder, threads
    Unload,
    Start,  // session, the words that bias the search (one per line)
    Audio,  // session, PCM
    Finish, // session: no more audio follows
    Cancel, // session: its results are no longer wanted
    // The engine's answers.
    Loaded = 64, // failure (empty: loaded)
    Result,      // session, final (0 or 1), text
    Ended,       // session, failure (empty: all input recognised)
    Drained,     // session, the number of Audio messages recognised so far
};

// The exit status of an engine process whose library does not load.
inline constexpr int kNoLibraryExit = 3;

// No message is larger: a length beyond it means the stream is not ours.
inline constexpr quint32 kMaxFrame = 64u << 20;

// Builds one frame.
class Writer {
public:
    explicit Writer(Type type);
    Writer& u32(quint32 value);
    Writer& u64(quint64 value);
    Writer& text(const QString& value);
    Writer& bytes(const QByteArray& value);
    // The frame: its length, then the message.
    QByteArray frame() const;

private:
    QByteArray m_message;
};

// Reads the fields of one message in order; any read past its end fails it.
class Reader {
public:
    explicit Reader(QByteArray message) : m_message(std::move(message)) {}
    std::optional<Type> type();
    quint32 u32();
    quint64 u64();
    QString text();
    QByteArray bytes();
    bool ok() const { return m_ok; }

private:
    bool take(qsizetype n);
    QByteArray m_message;
    qsizetype m_at = 0;
    bool m_ok = true;
};

// Gathers what arrives into whole messages.
class FrameBuffer {
public:
    void append(const QByteArray& bytes) { m_bytes.append(bytes); }
    // The next whole message, if one has arrived.
    std::optional<QByteArray> next();
    // A frame announced a length beyond kMaxFrame: nothing more can be read.
    bool isCorrupt() const { return m_corrupt; }

private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
    bool m_corrupt = false;
};

} // namespace vel::EngineWire
