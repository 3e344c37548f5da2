#include "common/Clock.h"
#include "common/Logger.h"
#include "dictation/PasteService.h"
#include "support/FakeWorkspace.h"
#include "support/DictationRig.h"

#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

struct PasteRig {
    RecordingLogger log;
    ManualClock clock;
    FakePasteboard pasteboard;
    FakeSyntheticInput input;
    PasteService paste{log, clock, pasteboard, input};

    // Runs copyAndPaste to its end; returns the result and the simulated seconds it took.
    std::pair<PasteService::Result, double> run(const QString& text, const ApplicationRef& target)
    {
        PasteService::Result status;
        bool done = false;
        const double t0 = clock.now();
        double took = 0;
        spawn([](PasteRig& rig, QString text, ApplicationRef target, PasteService::Result& status, bool& done, double t0,
                 double& took) -> Task<void> {
            status = co_await rig.paste.copyAndPaste(text, target);
            took = rig.clock.now() - t0;
            done = true;
        }(*this, text, target, status, done, t0, took));
        for (int i = 0; i < 1000 && !done; ++i)
            clock.advance(0.01);
        return {status, took};
    }
};

} // namespace

class TestPasteService : public QObject {
    Q_OBJECT
private slots:
    void activationPolling_data()
    {
        QTest::addColumn<bool>("alreadyActive");
        QTest::addColumn<int>("activeAfterQueries");
        QTest::addColumn<int>("activations");
        QTest::addColumn<double>("seconds");
        QTest::newRow("already active: settle only") << true << 0 << 0 << 0.1;
        QTest::newRow("active on the third poll") << false << 3 << 1 << 0.25;
        QTest::newRow("active at once") << false << 1 << 1 << 0.15;
    }
    void activationPolling()
    {
        QFETCH(bool, alreadyActive);
        QFETCH(int, activeAfterQueries);
        QFETCH(int, activations);
        QFETCH(double, seconds);
        PasteRig rig;
        auto app = FakeWorkspace::app(100);
        app->active = alreadyActive;
        app->becomesActiveAfterQueries = activeAfterQueries;
        const auto [result, took] = rig.run("テキスト", app);
        QVERIFY(result.pasted);
        QCOMPARE(result.status, QStringLiteral("📋 ペーストしました"));
        QCOMPARE(app->activations, activations);
        QVERIFY2(qAbs(took - seconds) < 0.011, qPrintable(QString::number(took)));
        QCOMPARE(rig.input.strokes.size(), 1);
        QCOMPARE(rig.input.strokes.first().target, ApplicationRef(app));
    }

    // Pasted is said only when the chord went out; otherwise where the text is, and why.
    void whatBecameOfTheText_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("refused"); // "keys", "desktop", "focus", "gone" or nothing
        QTest::addColumn<QString>("clipboardRefusal");
        QTest::addColumn<QString>("status");
        QTest::newRow("keys refused") << "gedit" << "keys" << ""
                                      << "📋 コピー済み（Ctrl+Vでペースト）— キー入力が許可されませんでした";
        QTest::newRow("keys refused, a terminal") << "xterm" << "keys" << ""
                                                  << "📋 コピー済み（Ctrl+Shift+Vでペースト）— キー入力が許可されませんでした";
        QTest::newRow("the desktop refuses") << "gedit" << "desktop" << ""
                                             << "📋 コピー済み（Ctrl+Vでペースト）— デスクトップが操作を許可しませんでした";
        QTest::newRow("the target never comes to the front") << "gedit" << "focus" << ""
                                                             << "📋 コピー済み（Ctrl+Vでペースト）— 貼り付け先のウィンドウが前面に戻りませんでした";
        QTest::newRow("the target has closed") << "gedit" << "gone" << ""
                                               << "📋 コピー済み（Ctrl+Vでペースト）— 貼り付け先のウィンドウが閉じられました";
        QTest::newRow("no clipboard: no chord either") << "gedit" << "" << "クリップボードに入れられません"
                                                       << "⚠️ クリップボードに入れられません。結果は設定の「履歴」からコピーできます";
    }
    void whatBecameOfTheText()
    {
        QFETCH(QString, windowClass);
        QFETCH(QString, refused);
        QFETCH(QString, clipboardRefusal);
        QFETCH(QString, status);
        PasteRig rig;
        rig.input.allowed = refused != "keys";
        rig.input.permitted = refused != "desktop";
        rig.pasteboard.refusal = clipboardRefusal;
        auto app = FakeWorkspace::app(7, windowClass);
        app->becomesActiveAfterQueries = refused == "focus" ? -1 : 0;
        app->terminated = refused == "gone";
        const auto [result, took] = rig.run("コピーだけ", app);
        QVERIFY(!result.pasted);
        QCOMPARE(result.copied, clipboardRefusal.isEmpty());
        QCOMPARE(result.status, status);
        QVERIFY(rig.input.strokes.isEmpty());
        QCOMPARE(rig.log.lines().first() == "📋 [clipboard] (5 characters)", clipboardRefusal.isEmpty());
    }

    // The log, which ends up in the session's journal, has the text's length; only the content
    // sink (the private debug log, when the user asks for it) has the text, escaped.
    void theTextReachesOnlyThePrivateLog()
    {
        PasteRig rig;
        QStringList kept;
        rig.log.setContentSink([&kept](const QString& line) { kept << line; });
        rig.run("一行目\n\"二\"\\", nullptr);
        QCOMPARE(rig.log.lines().first(), QStringLiteral("📋 [clipboard] (8 characters)"));
        QCOMPARE(kept, QStringList{QStringLiteral("📋 [clipboard] \"一行目\\n\\\"二\\\"\\\\\"")});
    }

    void pasteChord_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<int>("modifiers");
        const int ctrl = ShortcutKey::Ctrl;
        const int ctrlShift = ShortcutKey::Ctrl | ShortcutKey::Shift;
        QTest::newRow("editor") << "gedit" << ctrl;
        QTest::newRow("xterm instance and class") << "xterm XTerm" << ctrlShift;
        QTest::newRow("a Wayland app id") << "org.wezfurlong.wezterm" << ctrlShift;
        QTest::newRow("a browser named terminal-ish") << "firefox-terminal-docs" << ctrl;
    }
    void pasteChord()
    {
        QFETCH(QString, windowClass);
        QFETCH(int, modifiers);
        const KeyChord chord = PasteService::pasteChordFor(FakeWorkspace::app(1, windowClass));
        QCOMPARE(chord, (KeyChord{kKeysymV, quint8(modifiers)}));
        QCOMPARE(PasteService::pasteChordFor(nullptr), (KeyChord{kKeysymV, ShortcutKey::Ctrl}));
    }
};

QTEST_GUILESS_MAIN(TestPasteService)
#include "tst_PasteService.moc"
