#include "recording/ModelCheck.h"
#include "support/ModelRig.h"
#include "support/ModelZip.h"

#include <QFile>
#include <QFileInfo>
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

// The card over the small model's download from the model server.
struct CardRig : ModelRig {
    CardRig() { server.setOtherReply(FakeReply::raw(goodModel())); }
};

} // namespace

class TestModelManager : public QObject {
    Q_OBJECT
private slots:
    void downloadFailRetryRemove()
    {
        CardRig rig;
        QCOMPARE(rig.card->state().phase, Phase::Absent);
        QCOMPARE(rig.card->state().line(), QStringLiteral("未インストール"));

        rig.server.setOtherReply(FakeReply::withStatus(503, "busy"));
        rig.card->download();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.card->state().phase, Phase::Failed);
        QVERIFY2(rig.card->state().reason.contains("HTTP 503"), qPrintable(rig.card->state().reason));

        rig.server.setOtherReply(FakeReply::raw(goodModel()));
        rig.phases.clear();
        rig.card->download();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.phases.first(), Phase::Downloading);
        QCOMPARE(rig.card->state().phase, Phase::Installed);
        QVERIFY(rig.card->state().bytesOnDisk >= 5000);
        QVERIFY(rig.card->state().line().startsWith(QStringLiteral("インストール済み: vosk-model-small-ja-0.22")));
        QVERIFY(rig.recognizer->isAvailable());

        rig.card->remove();
        QCOMPARE(rig.card->state().phase, Phase::Absent);
        QVERIFY(!QFileInfo::exists(rig.settings.recognizerModelDir()));
        QVERIFY(!rig.recognizer->isAvailable());
    }

    void cancelKeepsThePartForTheRetry()
    {
        CardRig rig;
        rig.server.setOtherReply(FakeReply::stallMidway(goodModel()));
        rig.card->download();
        QTRY_COMPARE(rig.card->state().phase, Phase::Downloading);
        QTRY_VERIFY(rig.card->state().received > 0);
        QVERIFY(rig.card->state().line().startsWith(QStringLiteral("ダウンロード中 ")));
        rig.card->cancel();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.card->state().phase, Phase::Failed);
        QVERIFY(rig.card->state().reason.contains(QStringLiteral("キャンセル")));
        QVERIFY(QFileInfo(rig.dir.path() + "/models/.vosk-model-small-ja-0.22.zip.part").size() > 0);
    }

    // A model chosen but not installed: the installed one stands in, and the card says so,
    // until the chosen one is downloaded.
    void switchingModelsLoadsTheOtherForTheNextDictation()
    {
        CardRig rig;
        rig.card->download();
        QTRY_VERIFY(rig.settled());
        QVERIFY(rig.recognizer->isAvailable());
        ModelRecognizer* small = rig.small();

        rig.settings.setRecognizerModel(QStringLiteral("large"));
        QCOMPARE(rig.card->state().phase, Phase::Absent);
        QCOMPARE(rig.card->state().name, QStringLiteral("vosk-model-ja-0.22"));
        QTRY_VERIFY(!rig.card->state().fallback.isEmpty());
        QVERIFY2(rig.card->state().line().contains(QStringLiteral("（未インストール）、インストール済みの「標準（48 MB）」")),
                 qPrintable(rig.card->state().line()));
        QCOMPARE(rig.recognizer->active(), small);
        QVERIFY(rig.recognizer->isAvailable());
        rig.server.setOtherReply(FakeReply::raw(largeModel()));
        rig.card->download();
        QTRY_VERIFY(rig.settled());
        QCOMPARE(rig.card->state().phase, Phase::Installed);
        QCOMPARE(rig.card->state().fallback, QString());
        QCOMPARE(rig.recognizer->active(), rig.chosen());
        QVERIFY(!small->isAvailable()); // its memory is let go
        QCOMPARE(rig.server.requests().last().path, QStringLiteral("/models/vosk-model-ja-0.22.zip"));
        QVERIFY(QFile::exists(rig.dir.path() + "/models/vosk-model-ja-0.22/am/final.mdl"));

        rig.settings.setRecognizerModel(QStringLiteral("small"));
        QTRY_VERIFY(rig.recognizer->isAvailable()); // loaded again, nothing downloaded
        QCOMPARE(rig.card->state().name, QStringLiteral("vosk-model-small-ja-0.22"));
        QCOMPARE(rig.card->state().phase, Phase::Installed);
    }

    // A model whose engine's library is missing is never downloaded, and says why; an installed
    // model stands in for it.
    void aChoiceWithoutItsLibrary()
    {
        CardRig rig;
        rig.settings.setRecognizerModel(QStringLiteral("parakeet-ja"));
        QCOMPARE(rig.card->state().phase, Phase::Unavailable);
        ModelCheck check(*rig.recognizer);
        QSignalSpy status(&check, &ModelCheck::status);
        QVERIFY(awaited(check.ensureJapanese()).error);
        QVERIFY2(status.last().first().toString().contains("in-this-test.so"), qPrintable(status.last().first().toString()));
        QVERIFY(rig.server.requests().isEmpty());

        rig.installSmall();
        QVERIFY(!awaited(check.ensureJapanese()).error);
        QVERIFY(rig.recognizer->isAvailable());
        QVERIFY2(rig.card->state().line().contains("in-this-test.so"), qPrintable(rig.card->state().line()));
    }

    // The launch-time check and the card share one installer: the card follows its download.
    void theCardFollowsTheLaunchTimeDownload()
    {
        CardRig rig;
        ModelCheck check(*rig.recognizer);
        QVERIFY(!awaited(check.ensureJapanese()).error);
        QVERIFY(rig.phases.contains(Phase::Downloading));
        QCOMPARE(rig.card->state().phase, Phase::Installed);
        rig.card->download(); // nothing left to do
        QCOMPARE(rig.server.requests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestModelManager)
#include "tst_ModelManager.moc"
