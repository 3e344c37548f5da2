#include "recording/AudioAccumulator.h"

#include <QRandomGenerator>
#include <QTest>

#include <thread>

using namespace vel;

namespace {

QByteArray filled(qsizetype n, char c) { return QByteArray(n, c); }
constexpr float kLoud = 0.5f;

// The rules restated as plainly as possible, for comparison on random input.
struct Reference {
    QByteArray pcm;
    QByteArray ring;
    qint64 silent = 0;
    bool speech = false;
    qint64 trimmed = 0;
    void trim()
    {
        while (ring.size() > 6400) {
            ring.remove(0, 1);
            ++trimmed;
        }
    }
    void append(const QByteArray& d, float rms)
    {
        if (rms < 0.012f) {
            if (!speech) {
                ring += d;
                trim();
            } else {
                silent += d.size();
                if (silent <= 9600) {
                    pcm += d;
                } else {
                    ring += d;
                    trim();
                }
            }
            return;
        }
        if (!speech) {
            speech = true;
            pcm += ring;
            ring.clear();
        } else if (silent > 9600) {
            const qint64 m = std::min<qint64>(1600, silent);
            pcm += QByteArray(m, '\0');
            pcm += ring;
            ring.clear();
            trimmed += silent - m;
        }
        pcm += d;
        silent = 0;
    }
};

QByteArray dataOf(const AudioAccumulator& a)
{
    const auto wav = a.buildWAV();
    return wav ? wav->mid(44) : QByteArray();
}

} // namespace

class TestAudioAccumulator : public QObject {
    Q_OBJECT
private slots:
    void header()
    {
        AudioAccumulator a;
        a.append(filled(10, 'x'), kLoud);
        const QByteArray wav = *a.buildWAV();
        // RIFF size, fmt chunk of 16: PCM, mono, 16 kHz, 32000 B/s, align 2, 16 bits; data of 10.
        QCOMPARE(wav.left(44).toHex(), QByteArray("524946462e00000057415645666d74201000000001000100803e0000007d0000"
                                                  "0200100064617461" "0a000000"));
        QCOMPARE(wav.mid(44), filled(10, 'x'));
        QCOMPARE(*a.buildWAV(), wav); // building changes nothing
    }

    void randomBuffersMatchTheReference()
    {
        QRandomGenerator rng(1234);
        for (int round = 0; round < 200; ++round) {
            // Every other round with a limit on what is kept.
            const qint64 limit = round % 2 ? AudioAccumulator::kMaxKeptBytes : rng.bounded(0, 40000) & ~1;
            AudioAccumulator a(limit);
            Reference r;
            const int buffers = rng.bounded(1, 120);
            for (int i = 0; i < buffers; ++i) {
                const qsizetype size = rng.bounded(0, 4000) & ~1;
                QByteArray d(size, Qt::Uninitialized);
                for (char& c : d)
                    c = static_cast<char>(rng.bounded(256));
                const float rms = rng.bounded(3) == 0 ? 0.2f : static_cast<float>(rng.bounded(0.0125));
                a.append(d, rms);
                r.append(d, rms);
            }
            QCOMPARE(dataOf(a), r.pcm.left(limit));
            QCOMPARE(a.droppedBytes(), std::max<qint64>(0, r.pcm.size() - limit));
            QCOMPARE(a.trimmedBytes(), r.trimmed);
        }
    }

    void oneWriterOneReader()
    {
        AudioAccumulator a;
        std::thread writer([&a] {
            for (int i = 0; i < 20000; ++i)
                a.append(QByteArray(64, 'w'), (i / 100) % 2 ? 0.5f : 0.0f);
        });
        qsizetype last = 0;
        for (int i = 0; i < 2000; ++i) {
            const auto wav = a.buildWAV();
            const qsizetype size = wav ? wav->size() : 0;
            QVERIFY(size >= last);
            last = size;
            (void)a.trimmedBytes();
        }
        writer.join();
        QVERIFY(a.buildWAV()->size() > last - 1);
    }
};

QTEST_GUILESS_MAIN(TestAudioAccumulator)
#include "tst_AudioAccumulator.moc"
