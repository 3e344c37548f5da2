// Fuzz target for the text clean-up, the formatter and the response decoder: no crash, no
// hang, and format() idempotent. Built with libFuzzer under clang (scripts/fuzz); under other
// compilers a small driver replays the corpus files given on the command line.
#include "correction/GeminiWire.h"
#include "correction/TextFormatter.h"
#include "correction/TextProcessor.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace vel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = QString::fromUtf8(bytes);

    const QList<DictionaryEntry> entries{DictionaryEntry::make("東京", "とうきょう"), DictionaryEntry::make("X", text.left(3))};
    const QString local = TextProcessor::localText(text, true, entries);
    (void)TextProcessor::removeCorrectionWithContext(text, QStringLiteral("いや"), true);
    const QString once = TextFormatter::format(local);
    if (TextFormatter::format(once) != once) {
        std::fprintf(stderr, "format is not idempotent\n");
        std::abort();
    }
    const QString direct = TextFormatter::format(text);
    if (TextFormatter::format(direct) != direct) {
        std::fprintf(stderr, "format is not idempotent on raw input\n");
        std::abort();
    }
    try {
        const GeminiResponse response = GeminiResponse::fromJson(bytes);
        (void)response.answerText();
    } catch (const DecodingError&) {
    }
    return 0;
}

#ifndef VELUTANORA_LIBFUZZER
#include <QFile>
int main(int argc, char** argv)
{
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        QFile f(QString::fromLocal8Bit(argv[i]));
        if (!f.open(QIODevice::ReadOnly)) {
            ++failures;
            continue;
        }
        const QByteArray input = f.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), static_cast<size_t>(input.size()));
    }
    std::printf("replayed %d inputs\n", argc - 1);
    return failures == 0 ? 0 : 1;
}
#endif
