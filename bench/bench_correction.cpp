// Local clean-up and formatting of 100 KB, 1 MB and 8 MB of dictation text, and the request body of a
// 60-second recording. Prints figures; never fails.
#include "BenchTimer.h"
#include "correction/GeminiWire.h"
#include "correction/TextFormatter.h"
#include "correction/TextProcessor.h"

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <cstdio>

using namespace vel;

int main()
{
    const QStringList pieces{"えーっと、", "今日は晴れです。", "明日、いや、明後日に行きます。", "東京じゃなくて大阪に行く",
                             "雨が降ったので。 ", "傘を持っていきます", "会議は何時からでしたっけ", "あのー、",
                             "とうきょうの 会社 で 3 年 働いています。", "了解です。了解です。", "\n"};
    QRandomGenerator rng(42);
    const QList<DictionaryEntry> dictionary{DictionaryEntry::make("東京", "とうきょう"),
                                            DictionaryEntry::make("Velutanora", "べるたのーら")};
    // The clean-up must stay linear: a long file through `process` as much as one dictation.
    for (const double kilobytes : {100.0, 1024.0, 8192.0}) {
        QString text;
        for (qsizetype bytes = 0; bytes < kilobytes * 1024;) {
            const QString& piece = pieces.at(rng.bounded(static_cast<int>(pieces.size())));
            text += piece;
            bytes += piece.toUtf8().size();
        }
        const double bytes = static_cast<double>(text.toUtf8().size());
        const double clean = bench::secondsPerCall([&] {
            bench::keep(TextFormatter::format(TextProcessor::localText(text, true, dictionary)));
        });
        std::printf("local clean-up + format of %.0f KB: %.2f ms (%.2f MB/s)\n", bytes / 1024, clean * 1e3,
                    bytes / clean / 1e6);
    }

    // 60 s of 16 kHz 16-bit mono plus the 44-byte header.
    QByteArray wav(44 + 60 * 32000, '\0');
    for (qsizetype i = 44; i < wav.size(); ++i)
        wav[i] = static_cast<char>(rng.bounded(256));
    const QString prompt = QStringLiteral("以下は音声の録音です。\n校正後のテキストのみを出力してください。");
    const double body = bench::secondsPerCall([&] { bench::keep(buildAudioRequestBody(wav, prompt, 0)); });
    const double base64 = bench::secondsPerCall([&] { bench::keep(wav.toBase64()); });
    std::printf("audio request body for 60 s (%.2f MB WAV): %.2f ms (%.1f MB/s); plain base64 %.2f ms; ratio %.2f\n",
                static_cast<double>(wav.size()) / 1e6, body * 1e3, static_cast<double>(wav.size()) / body / 1e6,
                base64 * 1e3, body / base64);
    return 0;
}
