#include "platform/wayland/CompositorBindings.h"
#include "DesktopScenarios.h"
#include "support/FakeGeminiServer.h"
#include "support/Tones.h"
#include "recording/WavFile.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace vel;
using namespace vel::test;

namespace {

// The app_id of the window sway says has the keyboard focus.
QString focusedAppId(const QJsonObject& node)
{
    if (node.value("focused").toBool())
        return node.value("app_id").toString();
    for (const char* key : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(key).toArray())
            if (const QString id = focusedAppId(child.toObject()); !id.isEmpty())
                return id;
    return {};
}

QString swayFocus()
{
    QProcess p;
    p.start(QStringLiteral("swaymsg"), {"-t", "get_tree"});
    p.waitForFinished(5000);
    return focusedAppId(QJsonDocument::fromJson(p.readAllStandardOutput()).object());
}

} // namespace

// The Wayland backends against a real headless sway (scripts/test starts it for an unprivileged
// user and runs this test as that user).
class TestWaylandDesktop : public DesktopScenarios {
    Q_OBJECT
protected:
    // sway runs the program's command for the bound keys: --toggle carries the application in front.
    void prepare(DesktopRig& rig) override { QVERIFY(rig.backend.shortcutsBoundByDesktop); }
    void pressToggle(DesktopRig& rig) override { rig.dictation.toggle(rig.backend.workspace->frontmostApplication()); }
    void pressCancel(DesktopRig& rig) override { rig.dictation.cancel(); }
    bool cancelKeyReaches(DesktopRig&, const Window&) override { return false; }
    QString cannotTypeTheCancelKey() const override { return QStringLiteral("sway binds the cancel key itself"); }
    std::optional<QString> clipboardText() override { return waylandClipboard(); }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || QGuiApplication::platformName() != QLatin1String("wayland"))
            QSKIP("needs a Wayland compositor (scripts/test starts a headless sway)");
        RecordingLogger log;
        SystemClock clock;
        const DesktopBackend probe = DesktopBackend::create(log, clock);
        if (!probe.problem.isEmpty())
            QSKIP(qPrintable(probe.problem));
    }
    // The lines the shortcut section shows work in sway: bound as shown, the keys run the command.
    void swayRunsTheShownBindings_data()
    {
        QTest::addColumn<quint32>("keysym");
        QTest::addColumn<quint8>("modifiers");
        QTest::addColumn<QStringList>("wtype");
        QTest::newRow("Alt+Space") << ShortcutKey::kSpace << quint8(ShortcutKey::Alt)
                                   << QStringList{"-M", "alt", "-k", "space", "-m", "alt"};
        QTest::newRow("lone Right Ctrl, on release") << quint32(0xffe4) << quint8(0) << QStringList{"-P", "Control_R", "-p", "Control_R"};
    }
    void swayRunsTheShownBindings()
    {
        QFETCH(quint32, keysym);
        QFETCH(quint8, modifiers);
        QFETCH(QStringList, wtype);
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            QSKIP("the compositor is not sway");
        QTemporaryDir dir;
        const QString program = dir.path() + "/it's a program"; // the shown line quotes it for sway's shell
        const QString ran = dir.path() + "/ran";
        QVERIFY(!writeFile(program, QStringLiteral("#!/bin/sh\necho \"$@\" >> %1\n").arg(ran).toUtf8(), true).isEmpty());
        const QString lines = CompositorBindings::lines(CompositorBindings::Compositor::Sway, ShortcutKey{keysym, modifiers},
                                                        ShortcutKey{ShortcutKey::kEscape, ShortcutKey::Super}, program);
        for (const QString& line : lines.split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('#'))
                continue;
            QCOMPARE(QProcess::execute(QStringLiteral("swaymsg"), {line}), 0);
        }
        // A keyboard kept alive across the presses: a fresh one loses its first key.
        QProcess::execute(QStringLiteral("wtype"), QStringList{"-s", "300"} + wtype);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(ran)), QStringLiteral("--toggle\n"), 5000);
        for (const QString& line : lines.split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith('#'))
                QProcess::execute(QStringLiteral("swaymsg"), {QString(line).replace("bindsym", "unbindsym").section(" exec ", 0, 0)});
    }

    // The program itself, as a user runs it: sway's binding runs --toggle, the microphone hears
    // speech, Gemini or the local sherpa-onnx model (the real library on a generated model that
    // says あ) hears the recording, and the text lands in the application in front.
    void theProgramDictatesThroughTheCompositorsShortcut_data()
    {
        QTest::addColumn<bool>("local");
        QTest::newRow("Gemini hears the recording") << false;
        QTest::newRow("the local Parakeet model hears it") << true;
    }
    void theProgramDictatesThroughTheCompositorsShortcut()
    {
        QFETCH(bool, local);
        const QString program = qEnvironmentVariable("VELUTANORA_PROGRAM");
        if (program.isEmpty() || qEnvironmentVariableIsEmpty("SWAYSOCK") || qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs sway, its virtual microphone and the program (scripts/test)");
        if (local && !QFileInfo(program).dir().exists(QStringLiteral("libsherpa-onnx-c-api.so")))
            QSKIP("libsherpa-onnx-c-api.so was not fetched");
        FakeGeminiServer server;
        QVERIFY(server.listen());
        server.enqueue(FakeReply::answer("最後まで届きました"));
        QTemporaryDir home;
        QJsonObject settings{{"gemini_api_key", "e2e-key"},
                             {"gemini_base_url", server.baseUrl()},
                             {"recognizer_model_url", "http://127.0.0.1:9/model.zip"}};
        if (local) {
            settings = {{"recognizer_model", "parakeet-ja"}, {"correction_mode", "instant"}};
            const QString model = home.path() + "/data/velutanora/models/sherpa-onnx-nemo-parakeet-tdt_ctc-0.6b-ja-35000-int8";
            QDir().mkpath(model);
            QCOMPARE(QProcess::execute(QStringLiteral("/usr/bin/python3"), {qEnvironmentVariable("VELUTANORA_TINY_MODEL_SCRIPT", QStringLiteral(TINY_MODEL_SCRIPT)), model, "あ@0.5"}), 0);
        }
        QVERIFY(!writeFile(home.path() + "/config/velutanora/defaults.json", QJsonDocument(settings).toJson()).isEmpty());
        Target target(home.path(), "wayland", QStringLiteral("target_editor"));
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("VELUTANORA_VOSK_LIBRARY", home.path() + "/no-libvosk.so"); // no Vosk model takes part
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        QByteArray said; // what the program logged: the waits follow it, not a fixed time
        connect(&app, &QProcess::readyRead, [&] { said += app.readAll(); });
        app.start(program, {"--autostart"}); // in the tray, without opening its window
        QVERIFY(app.waitForStarted());
        // Launched (its instance channel listens once the grab is in), with its model loaded.
        QTRY_VERIFY_WITH_TIMEOUT(said.contains("key grab installed"), 20000);
        if (local)
            QTRY_VERIFY_WITH_TIMEOUT(said.contains("model loaded"), 30000);
        const QString bind = CompositorBindings::lines(CompositorBindings::Compositor::Sway, ShortcutKey::defaultStart(),
                                                       ShortcutKey{ShortcutKey::kEscape, ShortcutKey::Super}, program)
                                 .split('\n')
                                 .filter(QStringLiteral("--toggle"))
                                 .first();
        QCOMPARE(QProcess::execute(QStringLiteral("swaymsg"), {bind}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(swayFocus() == QStringLiteral("target_editor"), 10000);

        const QString speech = writeWav(home.path(), "speech.wav", silencePcm(0.3) + tonePcm(1.5, 0.3, 300) + silencePcm(0.5));
        QProcess::execute(QStringLiteral("wtype"), {"-s", "300", "-M", "alt", "-k", "space", "-m", "alt"});
        QTRY_VERIFY_WITH_TIMEOUT(said.contains("isRecording=true"), 20000);
        QTest::qWait(500); // the microphone's first buffers
        QProcess play;
        play.start(QStringLiteral("paplay"), {speech});
        for (int i = 0; i < 500 && play.state() != QProcess::NotRunning; ++i)
            QTest::qWait(10);
        QProcess::execute(QStringLiteral("wtype"), {"-s", "300", "-M", "alt", "-k", "space", "-m", "alt"});
        if (local) {
            for (int i = 0; i < 2000 && !target.text().startsWith(QStringLiteral("あ")); ++i)
                QTest::qWait(10);
            QVERIFY2(target.text().startsWith(QStringLiteral("あ")), (target.text().toUtf8() + "\n" + said).constData());
            QCOMPARE(server.requests().size(), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("最後まで届きました。"), 20000);
            QCOMPARE(server.generateRequests().size(), 1);
            // Captured at its pace and kept from just before the tone to just after it.
            const double sent = WavFile::parse(server.generateRequests().first().audio()).durationSeconds();
            QVERIFY2(sent > 1.4 && sent < 2.3, qPrintable(QString::number(sent)));
        }
        QCOMPARE(swayFocus(), QStringLiteral("target_editor"));
        app.terminate();
        app.waitForFinished(5000);
        QProcess::execute(QStringLiteral("swaymsg"), {"unbindsym Mod1+space"});
    }
};

QTEST_MAIN(TestWaylandDesktop)
#include "tst_WaylandDesktop.moc"
