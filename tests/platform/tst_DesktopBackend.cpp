#include "common/Clock.h"
#include "common/Logger.h"
#include "platform/DesktopBackend.h"

#include <QGuiApplication>
#include <QTest>

using namespace vel;

// Without X11 (here: Qt's offscreen platform, as under Wayland) the program says what does
// not work and runs on.
class TestDesktopBackend : public QObject {
    Q_OBJECT
private slots:
    void unsupportedPlatformIsReportedClearly()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        RecordingLogger log;
        SystemClock clock;
        DesktopBackend backend = DesktopBackend::create(log, clock);
        QVERIFY(backend.problem.contains("offscreen"));
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().startsWith("⚠️ [Desktop]"));
        QVERIFY(!backend.keyboard->installTap());
        QVERIFY(!backend.input->isAllowed());
        QVERIFY(!backend.workspace->frontmostApplication());
        const QList<ShortcutKey> wanted{ShortcutKey::defaultStart()};
        QCOMPARE(backend.keyboard->setSwallowedShortcuts(wanted), wanted);
        QVERIFY(backend.pasteboard);
        QVERIFY(DesktopBackend::unsupportedStatus().startsWith("⚠️"));
    }
};

QTEST_MAIN(TestDesktopBackend)
#include "tst_DesktopBackend.moc"
