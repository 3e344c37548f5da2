#include "DesktopScenarios.h"

#include "platform/wayland/WaylandPanelSurface.h"
#include "support/Tones.h"

#include <QDir>
#include <QPainter>
#include <QTest>

namespace vel::test {

Window DesktopScenarios::openEditor(const QString& dir, const QString& appId)
{
    auto target = std::make_shared<Target>(dir, platform(), appId);
    return Window{appId, target->out, true, target};
}

bool DesktopScenarios::escapeArrives(const Window& window, const std::function<void()>& press)
{
    const int before = window.keys().count(QStringLiteral("Esc"));
    press();
    for (int i = 0; i < 100; ++i) {
        if (window.keys().count(QStringLiteral("Esc")) > before)
            return true;
        QTest::qWait(30);
    }
    return false;
}

bool DesktopScenarios::isInFront(DesktopRig& rig, const Window& window)
{
    const ApplicationRef front = rig.backend.workspace->frontmostApplication();
    return front && front->windowClass().split(QLatin1Char(' ')).contains(window.appId);
}

void DesktopScenarios::aDictationIsPastedIntoTheWindowInFront_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<bool>("focusMoves"); // another window comes to the front while the user speaks
    QTest::newRow("an editor, Ctrl+V") << false << false;
    QTest::newRow("a terminal, Ctrl+Shift+V") << true << false;
    QTest::newRow("the editor, brought back") << false << true;
}

void DesktopScenarios::aDictationIsPastedIntoTheWindowInFront()
{
    QFETCH(bool, terminal);
    QFETCH(bool, focusMoves);
    const QString skip = !cannotPaste().isEmpty()                    ? cannotPaste()
                         : terminal && !cannotTellTerminals().isEmpty() ? cannotTellTerminals()
                         : focusMoves ? cannotBringTheTargetBack()
                                      : QString();
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    DesktopRig rig;
    prepare(rig);
    if (QTest::currentTestFailed())
        return;
    const Window window = terminal ? openTerminal(rig.dir.path()) : openEditor(rig.dir.path(), QStringLiteral("target_editor"));
    QTRY_VERIFY_WITH_TIMEOUT(isInFront(rig, window), 10000);

    rig.server.enqueue(FakeReply::answer("デスクトップで届きました"));
    pressToggle(rig);
    QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
    rig.recognizer.lastSession()->deliver(QStringLiteral("ですくとっぷ"), true);
    Window other;
    if (focusMoves) {
        QDir(rig.dir.path()).mkdir("other");
        other = openEditor(rig.dir.path() + "/other", QStringLiteral("other_editor"));
        QTRY_VERIFY_WITH_TIMEOUT(isInFront(rig, other), 10000);
    }
    QTest::qWait(200);
    pressToggle(rig);
    QTRY_VERIFY2_WITH_TIMEOUT(window.text() == QStringLiteral("デスクトップで届きました。"),
                              qPrintable(rig.log.lines().join('\n').right(3000)), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.dictation.state().statusMessage(), PasteService::kPastedStatus, 5000);
    QVERIFY2(isInFront(rig, window), "the target has the focus");
    if (focusMoves)
        QCOMPARE(other.text(), QString());
    if (const std::optional<QString> clipboard = clipboardText())
        QCOMPARE(*clipboard, QStringLiteral("デスクトップで届きました。")); // kept for a paste by hand
    if (window.recordsKeys) {
        const QString chord = terminal ? QStringLiteral("Ctrl+Shift+V") : QStringLiteral("Ctrl+V");
        QTRY_VERIFY2_WITH_TIMEOUT(window.keys().contains(chord), qPrintable(window.keys().join(',')), 5000);
        for (const QString& key : window.keys())
            QVERIFY2(!key.endsWith(QLatin1String("Space")), "the shortcut itself never reaches the target");
    }
}

void DesktopScenarios::theCancelKeyIsTakenOnlyWhileBusy()
{
    if (!cannotTypeTheCancelKey().isEmpty())
        QSKIP(qPrintable(cannotTypeTheCancelKey()));
    DesktopRig rig;
    prepare(rig);
    if (QTest::currentTestFailed())
        return;
    const Window window = openEditor(rig.dir.path(), QStringLiteral("target_editor"));
    QTRY_VERIFY_WITH_TIMEOUT(isInFront(rig, window), 10000);
    // Until the window has the keyboard (it may show in front a moment before): a held key
    // would never arrive, however often it is pressed.
    QTRY_VERIFY2_WITH_TIMEOUT(cancelKeyReaches(rig, window), "idle: the cancel key is the application's", 10000);
    pressToggle(rig);
    QTRY_VERIFY2_WITH_TIMEOUT(rig.speech.isRecording(), qPrintable(rig.log.lines().join('\n').right(3000)), 5000);
    const int escapes = window.keys().count(QStringLiteral("Esc"));
    pressCancel(rig);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(!rig.dictation.isBusy(), 5000);
    QVERIFY(rig.dictation.state().wasCancelled());
    QTest::qWait(300);
    QCOMPARE(window.keys().count(QStringLiteral("Esc")), escapes); // the cancel took it
    QTRY_VERIFY2_WITH_TIMEOUT(cancelKeyReaches(rig, window), "the first cancel key after a dictation is the application's", 5000);
}

// Continuous auto mode for turn after turn, each pasted and sent with Return, then an ordinary
// dictation: a fault that frees the target shows by the third turn.
void DesktopScenarios::continuousModePastesAndPressesReturn()
{
    if (!cannotPaste().isEmpty())
        QSKIP(qPrintable(cannotPaste()));
    DesktopRig rig(tonePcm(1.0, 0.3, 300) + silencePcm(120));
    rig.settings.setContinuousMode(ContinuousMode::Auto);
    rig.settings.setContinuousSilenceSeconds(1.0);
    const QStringList replies{"一つ目", "二つ目", "三つ目", "四つ目", "五つ目", "六つ目"};
    for (const QString& reply : replies)
        rig.server.enqueue(FakeReply::answer(reply));
    rig.server.enqueue(FakeReply::answer("最後です"));
    prepare(rig);
    if (QTest::currentTestFailed())
        return;
    const Window window = openEditor(rig.dir.path(), QStringLiteral("target_editor"));
    QTRY_VERIFY_WITH_TIMEOUT(isInFront(rig, window), 10000);
    pressToggle(rig);
    QString expected;
    for (int turn = 0; turn < replies.size(); ++turn) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
        if (turn > 0) // the first turn hears the tone; the others hear words
            rig.recognizer.lastSession()->deliver(QStringLiteral("はい"), true);
        expected += replies[turn] + QStringLiteral("。\n");
        QTRY_VERIFY2_WITH_TIMEOUT(window.text() == expected, qPrintable(rig.log.lines().join('\n').right(3000)), 20000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000); // listening again
    pressCancel(rig);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.dictation.isBusy(), 5000);

    rig.settings.setContinuousMode(ContinuousMode::Off);
    pressToggle(rig);
    QTRY_VERIFY_WITH_TIMEOUT(rig.speech.isRecording(), 5000);
    rig.recognizer.lastSession()->deliver(QStringLiteral("さいご"), true);
    QTest::qWait(200);
    pressToggle(rig);
    QTRY_VERIFY2_WITH_TIMEOUT(window.text() == expected + QStringLiteral("最後です。"),
                              qPrintable(rig.log.lines().join('\n').right(3000)), 20000);
}

// The panel shows over the window in front and leaves it the keyboard.
void DesktopScenarios::thePanelLeavesTheFocusWithTheTarget()
{
    if (const QString why = cannotShowALayerShellPanel(); !why.isEmpty())
        QSKIP(qPrintable(why));
    DesktopRig rig;
    QVERIFY(rig.backend.panelKeepsFocusAway);
    const Window window = openEditor(rig.dir.path(), QStringLiteral("target_editor"));
    QTRY_VERIFY_WITH_TIMEOUT(isInFront(rig, window), 10000);
    WaylandPanelSurface panel(*rig.backend.wayland, QSize(280, 80), 80);
    panel.paint = [](QPainter& painter) { painter.fillRect(0, 0, 280, 80, QColor(30, 30, 30, 200)); };
    panel.show();
    QTRY_VERIFY_WITH_TIMEOUT(panel.framesShown() >= 5, 5000);
    QTest::qWait(300);
    QVERIFY(isInFront(rig, window));
    panel.hide();
    QVERIFY(!panel.isMapped());
}

} // namespace vel::test
