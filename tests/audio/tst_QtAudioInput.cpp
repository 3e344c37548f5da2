#include "audio/QtAudioInput.h"
#include "common/Logger.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QTest>

using namespace vel;

class TestQtAudioInput : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || QMediaDevices::defaultAudioInput().isNull())
            QSKIP("needs PulseAudio with the virtual microphone (scripts/test starts it)");
    }

    // scripts/test offers two microphones: vmic (the default) and vmic2 ("SecondMic").
    void recordsFromTheChosenMicrophone_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("recordsFrom");
        QTest::addColumn<bool>("saysSo");
        QTest::newRow("the default") << "" << "" << false;
        QTest::newRow("a chosen one") << "vmic2" << "SecondMic" << false;
        QTest::newRow("one unplugged") << "usb-headset-left-at-work" << "" << true;
    }
    void recordsFromTheChosenMicrophone()
    {
        QFETCH(QString, wanted);
        QFETCH(QString, recordsFrom);
        QFETCH(bool, saysSo);
        RecordingLogger log;
        QtAudioInput input(log, [wanted] { return wanted; });
        input.start([](const AudioBuffer&) {});
        input.stop();
        input.removeTap();
        const QString expected = recordsFrom.isEmpty() ? QMediaDevices::defaultAudioInput().description() : recordsFrom;
        QVERIFY2(log.lines().join('\n').contains(QStringLiteral("capturing from %1 (").arg(expected)), qPrintable(log.lines().join('\n')));
        QCOMPARE(!input.fallbackNotice().isEmpty(), saysSo);
    }
};

QTEST_GUILESS_MAIN(TestQtAudioInput)
#include "tst_QtAudioInput.moc"
