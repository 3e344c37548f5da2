#include "recording/EngineWire.h"

#include <QtEndian>

namespace vel::EngineWire {

Writer::Writer(Type type) { m_message.append(static_cast<char>(type)); }

Writer& Writer::u32(quint32 value)
{
    char b[4];
    qToLittleEndian(value, b);
    m_message.append(b, 4);
    return *this;
}

Writer& Writer::u64(quint64 value)
{
    char b[8];
    qToLittleEndian(value, b);
    m_message.append(b, 8);
    return *this;
}

Writer& Writer::text(const QString& value) { return bytes(value.toUtf8()); }

Writer& Writer::bytes(const QByteArray& value)
{
    u32(static_cast<quint32>(value.size()));
    m_message.append(value);
    return *this;
}

QByteArray Writer::frame() const
{
    QByteArray out(4, '\0');
    qToLittleEndian(static_cast<quint32>(m_message.size()), out.data());
    return out + m_message;
}

bool Reader::take(qsizetype n)
{
    if (!m_ok || n < 0 || m_message.size() - m_at < n)
        m_ok = false;
    return m_ok;
}

std::optional<Type> Reader::type()
{
    if (!take(1))
        return std::nullopt;
    return static_cast<Type>(static_cast<quint8>(m_message.at(m_at++)));
}

quint32 Reader::u32()
{
    if (!take(4))
        return 0;
    const quint32 v = qFromLittleEndian<quint32>(m_message.constData() + m_at);
    m_at += 4;
    return v;
}

quint64 Reader::u64()
{
    if (!take(8))
        return 0;
    const quint64 v = qFromLittleEndian<quint64>(m_message.constData() + m_at);
    m_at += 8;
    return v;
}

QString Reader::text() { return QString::fromUtf8(bytes()); }

QByteArray Reader::bytes()
{
    const quint32 n = u32();
    if (!take(n))
        return {};
    const QByteArray v = m_message.mid(m_at, n);
    m_at += n;
    return v;
}

std::optional<QByteArray> FrameBuffer::next()
{
    if (m_corrupt || m_bytes.size() - m_at < 4)
        return std::nullopt;
    const quint32 length = qFromLittleEndian<quint32>(m_bytes.constData() + m_at);
    if (length == 0 || length > kMaxFrame) {
        m_corrupt = true;
        return std::nullopt;
    }
    if (m_bytes.size() - m_at - 4 < qsizetype(length))
        return std::nullopt;
    QByteArray message = m_bytes.mid(m_at + 4, length);
    m_at += 4 + length;
    // Let go of what was read once it is most of the buffer, not at every message.
    if (m_at > 65536 && m_at * 2 > m_bytes.size()) {
        m_bytes.remove(0, m_at);
        m_at = 0;
    }
    return message;
}

} // namespace vel::EngineWire
