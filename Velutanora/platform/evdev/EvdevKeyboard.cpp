#include "platform/evdev/EvdevKeyboard.h"

#include <QDir>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vel {

namespace {

bool hasBit(const unsigned char* bits, int bit) { return (bits[bit / 8] >> (bit % 8)) & 1; }

// A keyboard reports letters and a Control key; mice and power buttons do not.
bool isKeyboard(int fd)
{
    unsigned char keys[KEY_MAX / 8 + 1] = {};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) < 0)
        return false;
    return hasBit(keys, KEY_A) && hasBit(keys, KEY_LEFTCTRL);
}

} // namespace

EvdevKeyboard::EvdevKeyboard(std::vector<int> fds, QObject* parent) : QObject(parent)
{
    for (int fd : fds) {
        auto source = std::make_unique<Source>(Source{fd, new QSocketNotifier(fd, QSocketNotifier::Read, this), {}});
        Source* raw = source.get();
        connect(raw->notifier, &QSocketNotifier::activated, this, [this, raw] { readFrom(*raw); });
        m_sources.push_back(std::move(source));
    }
}

EvdevKeyboard::~EvdevKeyboard()
{
    for (auto& source : m_sources) {
        delete source->notifier;
        ::close(source->fd);
    }
}

std::unique_ptr<EvdevKeyboard> EvdevKeyboard::openKeyboards(QString* whyNot)
{
    const QStringList names = QDir(QStringLiteral("/dev/input")).entryList({QStringLiteral("event*")}, QDir::System);
    if (names.isEmpty()) {
        *whyNot = QStringLiteral("no /dev/input/event* devices");
        return nullptr;
    }
    std::vector<int> fds;
    int denied = 0;
    for (const QString& name : names) {
        const QByteArray path = QByteArrayLiteral("/dev/input/") + name.toLocal8Bit();
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            denied += errno == EACCES ? 1 : 0;
            continue;
        }
        if (isKeyboard(fd))
            fds.push_back(fd);
        else
            ::close(fd);
    }
    if (fds.empty()) {
        *whyNot = denied > 0 ? QStringLiteral("no permission to read /dev/input (join the input group: sudo usermod -aG "
                                              "input $USER, then log in again)")
                             : QStringLiteral("no keyboard among /dev/input/event*");
        return nullptr;
    }
    return std::make_unique<EvdevKeyboard>(std::move(fds));
}

quint32 EvdevKeyboard::keysymForEvdevCode(quint16 code)
{
    switch (code) {
    case KEY_LEFTCTRL: return 0xffe3;
    case KEY_RIGHTCTRL: return 0xffe4;
    case KEY_LEFTSHIFT: return 0xffe1;
    case KEY_RIGHTSHIFT: return 0xffe2;
    case KEY_LEFTALT: return 0xffe9;
    case KEY_RIGHTALT: return 0xffea;
    case KEY_LEFTMETA: return 0xffeb;
    case KEY_RIGHTMETA: return 0xffec;
    default: return 0;
    }
}

void EvdevKeyboard::readFrom(Source& source)
{
    char buffer[64 * sizeof(input_event)];
    const ssize_t n = ::read(source.fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        // Unplugged (ENODEV) or the stream ended: stop watching it.
        source.notifier->setEnabled(false);
        return;
    }
    if (n < 0)
        return;
    source.pending.append(buffer, static_cast<qsizetype>(n));
    qsizetype offset = 0;
    while (source.pending.size() - offset >= static_cast<qsizetype>(sizeof(input_event))) {
        input_event event;
        std::memcpy(&event, source.pending.constData() + offset, sizeof event);
        offset += static_cast<qsizetype>(sizeof event);
        handle(event.type, event.code, event.value,
               static_cast<double>(event.input_event_sec) + static_cast<double>(event.input_event_usec) / 1e6);
    }
    source.pending.remove(0, offset);
}

void EvdevKeyboard::handle(quint16 type, quint16 code, qint32 value, double timestamp)
{
    if (type != EV_KEY || value == 2) // auto-repeat is no change
        return;
    const quint32 key = keysymForEvdevCode(code);
    if (key == 0)
        return;
    if (value == 1)
        m_held.insert(key);
    else
        m_held.erase(key);
    quint8 modifiers = 0;
    for (quint32 held : m_held)
        modifiers |= ShortcutKey::modifierOf(held);
    if (onFlagsChanged)
        onFlagsChanged(KeyEvent{key, modifiers, timestamp, {}});
}

} // namespace vel
