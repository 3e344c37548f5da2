#include "common/Clock.h"
#include "settings/KeyValueStore.h"
#include "settings/RecordingHistory.h"
#include "support/ProgramRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vel;

namespace {

using Result = vel::test::ProgramResult;
using vel::test::runProgram;

void seed(const QString& configHome, const QJsonObject& object) { QVERIFY(vel::test::seedStore(configHome, object)); }

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void printSettingsOfAnEmptyStore()
    {
        QTemporaryDir dir;
        const Result r = runProgram({"--print-settings"}, dir.path());
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("geminiApiKey").toString(), QString());
        QCOMPARE(o.value("removeFillers").toBool(), true);
        QCOMPARE(o.value("dictionaryEntries").toArray().size(), 0);
        QCOMPARE(o.value("startShortcut").toObject(),
                 (QJsonObject{{"keyCode", 49}, {"modifiers", 524288}, {"display", "⌥Space"}}));
        QCOMPARE(o.value("cancelShortcut").toObject(),
                 (QJsonObject{{"keyCode", 53}, {"modifiers", 0}, {"display", "Esc"}}));
        QCOMPARE(o.value("appearanceMode").toString(), QStringLiteral("light"));
        QCOMPARE(o.value("correctionMode").toString(), QStringLiteral("fast"));
        QCOMPARE(o.value("continuousMode").toString(), QStringLiteral("off"));
        QCOMPARE(o.value("continuousSilenceSeconds").toDouble(), 3.0);
        QCOMPARE(o.value("stealthMode").toBool(), false);
        QCOMPARE(o.value("assumePoorDiction").toBool(), false);
        QCOMPARE(o.value("contextualStrings").toArray().size(), 0);
        QCOMPARE(o.value("microphoneId").toString(), QString());
        QCOMPARE(o.value("recognizerModel").toString(), QStringLiteral("small"));
        QCOMPARE(o.value("history").toArray().size(), 0);
        QCOMPARE(o.value("usage").toObject().value("estimatedCost").toDouble(), 0.0);
        QVERIFY2(!QFile::exists(dir.path() + "/velutanora/defaults.json"), "reading an empty store writes nothing");
    }

    void printSettingsOfSeededEdgeCases()
    {
        QTemporaryDir dir;
        ManualClock clock; // only for building dates
        const double now = referenceDateFromUnix(SystemClock().now());
        const QList<RecordingEntry> entries{
            {QUuid::createUuid(), "新しい", QStringLiteral("あたらしい"), now - 60},
            {QUuid::createUuid(), "古い", {}, now - 8 * 86400},
        };
        QJsonObject seeded{
            {"gemini_api_key", "AIzaSyExample1234"},
            {"continuous_mode", true},
            {"correction_mode", "paste_only"},
            {"appearance_mode", "Dark"},
            {"continuous_silence_seconds", 0},
            {"user_occupation", "税理士"},
            {"remove_fillers", "no"},
            {"microphone_id", "alsa_input.usb-Headset"},
            {"recognizer_model", "huge"},
            {"recording_history", KeyValueStore::encodeData(RecordingHistory::encode(entries))},
            {"start_shortcut", KeyValueStore::encodeData(R"({"keyCode":54,"modifiers":1048576})")},
            {"UsageTracker.totalRequests", 3},
            {"UsageTracker.totalInputTokens", 1000000},
        };
        seed(dir.path(), seeded);
        const Result r = runProgram({"--print-settings"}, dir.path());
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("geminiApiKey").toString(), QStringLiteral("…1234"));
        QVERIFY(!r.out.contains("AIzaSy"));
        QCOMPARE(o.value("continuousMode").toString(), QStringLiteral("auto"));
        QCOMPARE(o.value("correctionMode").toString(), QStringLiteral("fast"));
        QCOMPARE(o.value("appearanceMode").toString(), QStringLiteral("light"));
        QCOMPARE(o.value("continuousSilenceSeconds").toDouble(), 3.0);
        QCOMPARE(o.value("removeFillers").toBool(), true);
        QCOMPARE(o.value("contextualStrings").toArray().size(), 27);
        QCOMPARE(o.value("microphoneId").toString(), QStringLiteral("alsa_input.usb-Headset"));
        QCOMPARE(o.value("recognizerModel").toString(), QStringLiteral("small"));
        QCOMPARE(o.value("startShortcut").toObject().value("display").toString(), QStringLiteral("Right ⌘"));
        const QJsonArray history = o.value("history").toArray();
        QCOMPARE(history.size(), 1);
        QCOMPARE(history.at(0).toObject().value("text").toString(), QStringLiteral("新しい"));
        QCOMPARE(history.at(0).toObject().value("originalText").toString(), QStringLiteral("あたらしい"));
        QVERIFY(history.at(0).toObject().value("date").toString().endsWith('Z'));
        const QJsonObject usage = o.value("usage").toObject();
        QCOMPARE(usage.value("totalRequests").toInteger(), 3);
        QCOMPARE(usage.value("estimatedCost").toDouble(), 0.15);

        // The purge at load removed the old entry from the store too, as at launch.
        QFile f(dir.path() + "/velutanora/defaults.json");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject stored = QJsonDocument::fromJson(f.readAll()).object();
        const auto blob = KeyValueStore::decodeData(stored.value("recording_history"));
        QVERIFY(blob);
        QCOMPARE(RecordingHistory::decode(*blob)->size(), 1);
        QCOMPARE(stored.value("continuous_mode"), QJsonValue(true));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown option") << QStringList{"--frobnicate"};
        QTest::newRow("unknown command") << QStringList{"dance"};
        QTest::newRow("extra argument") << QStringList{"--print-settings", "now"};
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        const Result r = runProgram(args, dir.path());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains("usage: velutanora"));
    }

    void versionAndHelp()
    {
        QTemporaryDir dir;
        const Result version = runProgram({"--version"}, dir.path(), VOSK_STUB_LIBRARY);
        QCOMPARE(version.exitCode, 0);
        QVERIFY(version.out.startsWith("velutanora "));
        // The library line names the file actually loaded, so a user can tell which libvosk runs.
        QVERIFY2(version.out.contains("libvosk: " + QFileInfo(VOSK_STUB_LIBRARY).canonicalFilePath() + "\n"),
                 qPrintable(version.out));
        const Result missing = runProgram({"--version"}, dir.path(), dir.filePath("none/libvosk.so"));
        QCOMPARE(missing.exitCode, 0);
        QVERIFY2(missing.out.contains("libvosk: not available ("), qPrintable(missing.out));
        const Result help = runProgram({"--help"}, dir.path());
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--print-settings"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
