#include "audio/QtAudioInput.h"

#include "common/Error.h"
#include "common/Logger.h"
#include "recording/MicrophoneChoice.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QPointer>
#include <QThread>

namespace vel {

namespace {

QAudioFormat captureFormat(const QAudioDevice& device)
{
    QAudioFormat format = device.preferredFormat();
    // Int16 and float are the formats the conversions read; anything else is asked as float.
    if (format.sampleFormat() != QAudioFormat::Int16 && format.sampleFormat() != QAudioFormat::Float)
        format.setSampleFormat(QAudioFormat::Float);
    if (format.sampleRate() <= 0)
        format.setSampleRate(48000);
    if (format.channelCount() <= 0)
        format.setChannelCount(1);
    return format;
}

AudioFormat toAudioFormat(const QAudioFormat& f)
{
    return AudioFormat{static_cast<double>(f.sampleRate()), f.channelCount(),
                       f.sampleFormat() == QAudioFormat::Int16 ? SampleType::Int16 : SampleType::Float32};
}

} // namespace

// Lives on the audio thread; everything in it runs there.
class QtAudioInput::Worker final : public QObject {
public:
    std::mutex tapLock;
    AudioTap tap;
    std::function<void()> onLost;

    QString start(const QAudioDevice& device, const QAudioFormat& format)
    {
        m_format = toAudioFormat(format);
        m_pending.clear();
        m_source = new QAudioSource(device, format, this);
        // A tenth of a second of room, so that a late read never loses audio; the regrouping below
        // makes exact 1024-frame buffers whatever the chunks are.
        m_source->setBufferSize(format.bytesForFrames(format.sampleRate() / 10));
        m_io = m_source->start();
        if (!m_io || m_source->error() != QAudio::NoError) {
            const QString why = errorText(m_source->error());
            delete m_source;
            m_source = nullptr;
            m_io = nullptr;
            return why.isEmpty() ? QStringLiteral("マイクを開始できませんでした。") : why;
        }
        m_running = true;
        connect(m_io, &QIODevice::readyRead, this, &Worker::read);
        connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (m_running && state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError) {
                m_running = false;
                flush();
                if (onLost)
                    onLost();
            }
        });
        return {};
    }

    void stop()
    {
        if (m_source) {
            m_running = false;
            read();
            flush();
            m_source->stop();
            delete m_source;
            m_source = nullptr;
            m_io = nullptr;
        }
    }

private:
    static QString errorText(QAudio::Error error)
    {
        switch (error) {
        case QAudio::OpenError: return QStringLiteral("マイクを開けませんでした。");
        case QAudio::IOError: return QStringLiteral("マイクから読み取れませんでした。");
        case QAudio::FatalError: return QStringLiteral("マイクが使えません。");
        default: return {};
        }
    }

    void read()
    {
        if (!m_io)
            return;
        m_pending += m_io->readAll();
        const qsizetype bufferBytes = kFramesPerBuffer * m_format.bytesPerFrame();
        qsizetype offset = 0;
        while (m_pending.size() - offset >= bufferBytes) {
            deliver(m_pending.mid(offset, bufferBytes));
            offset += bufferBytes;
        }
        m_pending.remove(0, offset);
    }

    // What is left at a stop or a loss is delivered too, padded to a whole buffer with silence.
    void flush()
    {
        if (m_pending.isEmpty())
            return;
        const qsizetype bufferBytes = kFramesPerBuffer * m_format.bytesPerFrame();
        m_pending.append(QByteArray(bufferBytes - m_pending.size() % bufferBytes, '\0'));
        deliver(m_pending);
        m_pending.clear();
    }

    void deliver(const QByteArray& data)
    {
        std::lock_guard guard(tapLock);
        if (tap)
            tap(AudioBuffer{m_format, data});
    }

    QAudioSource* m_source = nullptr;
    QIODevice* m_io = nullptr;
    AudioFormat m_format;
    QByteArray m_pending;
    bool m_running = false;
};

QtAudioInput::QtAudioInput(Logger& log, std::function<QString()> wantedDevice, QObject* parent)
    : QObject(parent), m_log(log), m_thread(new QThread(this)), m_worker(new Worker),
      m_wantedDevice(std::move(wantedDevice))
{
    m_thread->setObjectName(QStringLiteral("velutanora-audio"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start(QThread::TimeCriticalPriority);
    QPointer<QtAudioInput> self(this);
    m_worker->onLost = [self] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self)
                    self->deviceLost();
            },
            Qt::QueuedConnection);
    };
}

QtAudioInput::~QtAudioInput()
{
    stop();
    m_thread->quit();
    m_thread->wait();
}

QList<InputDevice> QtAudioInput::inputDevices()
{
    QList<InputDevice> listed;
    for (const QAudioDevice& d : QMediaDevices::audioInputs())
        listed.append({QString::fromUtf8(d.id()), d.description()});
    return listed;
}

QAudioDevice QtAudioInput::device(QString* notice) const
{
    const QString wanted = m_wantedDevice ? m_wantedDevice() : QString();
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    const MicrophoneChoice choice = chooseMicrophone(inputDevices(), wanted);
    if (notice)
        *notice = choice.notice;
    for (const QAudioDevice& d : inputs) {
        if (!choice.id.isEmpty() && QString::fromUtf8(d.id()) == choice.id)
            return d;
    }
    return QMediaDevices::defaultAudioInput();
}

AudioFormat QtAudioInput::inputFormat() const
{
    const QAudioDevice device = this->device(nullptr);
    if (device.isNull())
        return AudioFormat{48000, 1, SampleType::Float32};
    return toAudioFormat(captureFormat(device));
}

void QtAudioInput::start(AudioTap tap)
{
    const QAudioDevice device = this->device(&m_notice);
    if (!m_notice.isEmpty())
        m_log.line(QStringLiteral("🎧 [audio] the chosen microphone is not plugged in; recording from the default"));
    if (device.isNull())
        throw Error(QStringLiteral("マイクが見つかりません。入力デバイスを接続してください。"));
    const QAudioFormat format = captureFormat(device);
    {
        std::lock_guard guard(m_worker->tapLock);
        m_worker->tap = std::move(tap);
    }
    QString failure;
    QMetaObject::invokeMethod(
        m_worker, [this, &failure, device, format] { failure = m_worker->start(device, format); },
        Qt::BlockingQueuedConnection);
    if (!failure.isEmpty())
        throw Error(failure);
    m_running = true;
    m_log.line(QStringLiteral("🎧 [audio] capturing from %1 (%2 Hz, %3 ch)")
                   .arg(device.description())
                   .arg(format.sampleRate())
                   .arg(format.channelCount()));
}

void QtAudioInput::stop()
{
    if (!m_running)
        return;
    m_running = false;
    // Blocking: once this returns, the tap is not called again.
    QMetaObject::invokeMethod(m_worker, [this] { m_worker->stop(); }, Qt::BlockingQueuedConnection);
}

void QtAudioInput::removeTap()
{
    std::lock_guard guard(m_worker->tapLock);
    m_worker->tap = nullptr;
}

void QtAudioInput::deviceLost()
{
    m_log.line(QStringLiteral("🎧 [audio] the input device went away while recording"));
    if (onDeviceLost)
        onDeviceLost();
}

} // namespace vel
