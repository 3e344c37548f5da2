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

    // GNOME 48's own GlobalShortcuts portal is found from its .portal file, whose lists run on
    // past the first ';' (where QSettings would stop).
    void aPortalFileSaysWhatItServes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("serves");
        QTest::newRow("GNOME 48") << "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.gnome\n"
                                     "Interfaces=org.freedesktop.impl.portal.Access;org.freedesktop.impl.portal.GlobalShortcuts;\n"
                                     "UseIn=gnome\n"
                                  << true;
        QTest::newRow("KDE's, installed beside GNOME") << "[portal]\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=KDE\n"
                                                       << false;
        QTest::newRow("GNOME 43") << "[portal]\nInterfaces=org.freedesktop.impl.portal.Access;org.freedesktop.impl.portal.Screenshot;\nUseIn=gnome\n"
                                  << false;
    }
    void aPortalFileSaysWhatItServes()
    {
        QFETCH(QString, file);
        QFETCH(bool, serves);
        QCOMPARE(portalFileServes(file, "gnome", "org.freedesktop.impl.portal.GlobalShortcuts"), serves);
    }
};

QTEST_MAIN(TestDesktopBackend)
#include "tst_DesktopBackend.moc"
