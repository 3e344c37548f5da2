#include "audio/LocalRecognizer.h"
#include "audio/ModelInstaller.h"
#include "audio/ModelManager.h"
#include "recording/ModelCheck.h"
#include "recording/SpeechManager.h"
#include "audio/VoskRecognizer.h"
#include "settings/AppSettings.h"
#include "support/FakeGeminiServer.h"
#include "support/MemoryStore.h"
#include "support/ModelZip.h"
#include "support/DictationRig.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

using namespace vel;
using namespace vel::test;
using Phase = ModelState::Phase;

namespace {

QByteArray largeModel()
{
    return makeZip({{"vosk-model-ja-0.22/stub-model", ""}, {"vosk-model-ja-0.22/am/final.mdl", QByteArray(9000, 'L')}});
}

// The recogniser with the libvosk stand-in, its model card controls, and a model server.
struct CardRig {
    QTemporaryDir dir;
    RecordingLogger log;
    QNetworkAccessManager network;
    FakeGeminiServer server;
    MemoryStore store;
    AppSettings settings{store};
    std::unique_ptr<ChosenRecognizer> recognizer;
    std::unique_ptr<ModelManager> models;
    QList<Phase> phases;

    CardRig()
    {
        server.listen();
        server.setOtherReply(FakeReply::raw(goodModel()));
        store.setString("recognizer_model_dir", dir.path() + "/models/vosk-model-small-ja-0.22");
        store.setString("recognizer_model_url", server.baseUrl() + "/models/vosk-model-small-ja-0.22.zip");
        recognizer = makeChosenRecognizer(log, settings, network, VoskApi::load(QStringLiteral(VOSK_STUB_LIBRARY)), {},
                                          [](QString* why) { *why = "not in this test"; return nullptr; });
        models = std::make_unique<ModelManager>(log, settings, *recognizer);
        QObject::connect(models.get(), &ModelControl::stateChanged, [this] {
            if (phases.isEmpty() || phases.last() != models->state().phase)
                phases.append(models->state().phase);
        });
    }
    bool settled() const
    {
        const Phase p = models->state().phase;
        return !recognizer->chosen().recognizer->installer() && p != Phase::Downloading && p != Phase::Installing;
    }
};

} // namespace

class TestModelManager : public QObject {
    Q_OBJECT
private slots:
    void downloadFailRetryRemove()
    {
        CardRig rig;
        QCOMPARE(rig.models->state().phase, Phase::Absent);
        QCOMPARE(rig.models->state().line(), QStringLiteral("未インストール"));

        rig.server.setOtherReply(FakeReply::withStatus(503, "busy"));
        rig.models->download();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.models->state().phase, Phase::Failed);
        QVERIFY2(rig.models->state().reason.contains("HTTP 503"), qPrintable(rig.models->state().reason));

        rig.server.setOtherReply(FakeReply::raw(goodModel()));
        rig.phases.clear();
        rig.models->download();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.phases.first(), Phase::Downloading);
        QCOMPARE(rig.models->state().phase, Phase::Installed);
        QVERIFY(rig.models->state().bytesOnDisk >= 5000);
        QVERIFY(rig.models->state().line().startsWith(QStringLiteral("インストール済み: vosk-model-small-ja-0.22")));
        QVERIFY(rig.recognizer->isAvailable());

        rig.models->remove();
        QCOMPARE(rig.models->state().phase, Phase::Absent);
        QVERIFY(!QFileInfo::exists(rig.settings.recognizerModelDir()));
        QVERIFY(!rig.recognizer->isAvailable());
    }

    void cancelKeepsThePartForTheRetry()
    {
        CardRig rig;
        rig.server.setOtherReply(FakeReply::stallMidway(goodModel()));
        rig.models->download();
        QTRY_COMPARE(rig.models->state().phase, Phase::Downloading);
        QTRY_VERIFY(rig.models->state().received > 0);
        QVERIFY(rig.models->state().line().startsWith(QStringLiteral("ダウンロード中 ")));
        rig.models->cancel();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.models->state().phase, Phase::Failed);
        QVERIFY(rig.models->state().reason.contains(QStringLiteral("キャンセル")));
        QVERIFY(QFileInfo(rig.dir.path() + "/models/.vosk-model-small-ja-0.22.zip.part").size() > 0);
    }

    // A model chosen but not installed: the installed one stands in, and the card says so,
    // until the chosen one is downloaded.
    void switchingModelsLoadsTheOtherForTheNextDictation()
    {
        CardRig rig;
        rig.models->download();
        QTRY_VERIFY(rig.settled());
        QVERIFY(rig.recognizer->isAvailable());
        ModelRecognizer* small = rig.recognizer->entries().front().recognizer.get();

        rig.settings.setRecognizerModel(QStringLiteral("large"));
        QCOMPARE(rig.models->state().phase, Phase::Absent);
        QCOMPARE(rig.models->state().name, QStringLiteral("vosk-model-ja-0.22"));
        QTRY_VERIFY(!rig.models->state().fallback.isEmpty());
        QVERIFY2(rig.models->state().line().contains(QStringLiteral("（未インストール）、インストール済みの「標準（48 MB）」")),
                 qPrintable(rig.models->state().line()));
        QCOMPARE(rig.recognizer->active(), small);
        QVERIFY(rig.recognizer->isAvailable());
        rig.server.setOtherReply(FakeReply::raw(largeModel()));
        rig.models->download();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.models->state().phase, Phase::Installed);
        QCOMPARE(rig.models->state().fallback, QString());
        QCOMPARE(rig.recognizer->active(), rig.recognizer->chosen().recognizer.get());
        QVERIFY(!small->isAvailable()); // its memory is let go
        QCOMPARE(rig.server.requests().last().path, QStringLiteral("/models/vosk-model-ja-0.22.zip"));
        QVERIFY(QFile::exists(rig.dir.path() + "/models/vosk-model-ja-0.22/am/final.mdl"));

        rig.settings.setRecognizerModel(QStringLiteral("small"));
        QTRY_VERIFY(rig.recognizer->isAvailable()); // loaded again, nothing downloaded
        QCOMPARE(rig.models->state().name, QStringLiteral("vosk-model-small-ja-0.22"));
        QCOMPARE(rig.models->state().phase, Phase::Installed);
    }

    // A model whose engine's library is missing is never downloaded, and says why; an installed
    // model stands in for it.
    void aChoiceWithoutItsLibrary()
    {
        CardRig rig;
        rig.settings.setRecognizerModel(QStringLiteral("parakeet-ja"));
        QCOMPARE(rig.models->state().phase, Phase::Unavailable);
        ModelCheck check(*rig.recognizer);
        QSignalSpy status(&check, &ModelCheck::status);
        QVERIFY(awaited(check.ensureJapanese()).error);
        QVERIFY2(status.last().first().toString().contains("not in this test"), qPrintable(status.last().first().toString()));
        QVERIFY(rig.server.requests().isEmpty());

        writeFile(rig.dir.path() + "/models/vosk-model-small-ja-0.22/stub-model", "");
        QVERIFY(!awaited(check.ensureJapanese()).error);
        QVERIFY(rig.recognizer->isAvailable());
        QVERIFY2(rig.models->state().line().contains("not in this test"), qPrintable(rig.models->state().line()));
    }

    // The launch-time check and the card share one installer: the card follows its download.
    void theCardFollowsTheLaunchTimeDownload()
    {
        CardRig rig;
        ModelCheck check(*rig.recognizer);
        QVERIFY(!awaited(check.ensureJapanese()).error);
        QVERIFY(rig.phases.contains(Phase::Downloading));
        QCOMPARE(rig.models->state().phase, Phase::Installed);
        rig.models->download(); // nothing left to do
        QCOMPARE(rig.server.requests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestModelManager)
#include "tst_ModelManager.moc"
