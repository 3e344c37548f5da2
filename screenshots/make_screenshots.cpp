// Writes the screenshots of the panel's faces, the model card and the settings sections into
// VELUTANORA_SCREENSHOTS (scripts/test runs it on the test X server). It checks nothing: the
// tests do.
#include "dictation/DictationState.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"
#include "support/FakeModelControl.h"
#include "support/MemoryStore.h"
#include "support/DictationRig.h"
#include "ui/ContentView.h"
#include "ui/GeneralSettingsView.h"
#include "ui/MicrophonePicker.h"
#include "ui/ModelCard.h"
#include "ui/RecordingPanel.h"
#include "ui/RecordingPanelController.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QScreen>
#include <QTest>

#include <cstdio>

using namespace vel;
using namespace vel::test;

namespace {

int failures = 0;

QString screenshotDir()
{
    const QString dir = qEnvironmentVariable("VELUTANORA_SCREENSHOTS", QDir::tempPath() + "/velutanora-screenshots");
    QDir().mkpath(dir);
    return dir;
}

void save(const QPixmap& shot, const QString& path)
{
    if (!shot.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

void saveScreen(const QRect& area, const QString& name)
{
    QApplication::processEvents();
    QTest::qWait(150);
    save(QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()),
         screenshotDir() + "/" + name + ".png");
}

void panelFaces()
{
    DictationRig speech;
    MemoryStore store;
    AppSettings settings(store);
    RecordingPanelController controller(speech.log, speech.clock);
    DictationState state;
    controller.bind(&state, &settings, nullptr);
    speech.input.stop();
    controller.show();
    state.setRecording(true);
    RecordingPanel* panel = controller.panel();
    if (!panel)
        return;
    speech.clock.advance(12.0);
    QTest::qWait(200);
    // A level for the bars.
    speech.input.removeTap();
    state.setElapsedTime(12.0);
    state.setHeardText(QStringLiteral("明日の会議は十時からです\nそれまでに資料をまとめて"));
    state.setLevel(0.1f);
    saveScreen(panel->frameGeometry(), "panel-recording");
    state.setContinuous(true, false);
    state.setSilenceCountdown(2);
    saveScreen(panel->frameGeometry(), "panel-continuous");
    state.setRewriting(true);
    saveScreen(panel->frameGeometry(), "panel-recognizing");
    state.setRewriting(false);
    state.setRecording(false);
    state.setProcessing(true);
    saveScreen(panel->frameGeometry(), "panel-processing");
    state.setContinuous(false, false);
    controller.showOutcome(DictationOutcome{DictationOutcome::Kind::Pasted, "今日は晴れです。", "📋 ペーストしました", {}, {}, true, {}});
    saveScreen(panel->frameGeometry(), "panel-confirmation");
    settings.setCorrectionMode(CorrectionMode::Quality);
    controller.showFailure(QStringLiteral("⚠️ 日本語の音声認識モデルがまだ使えません。モデルの準備ができるまで待つか、"
                                          "Gemini APIキーを設定してください。"));
    saveScreen(panel->frameGeometry(), "panel-error");
}

void modelCardStates()
{
    MemoryStore store;
    AppSettings settings(store);
    FakeModelControl models;
    ModelCard card(models, settings);
    card.resize(520, card.sizeHint().height());
    card.show();
    if (!QTest::qWaitForWindowExposed(&card))
        ++failures;
    const QList<std::pair<QString, ModelState>> states{{"absent", ModelState{}},
                                                      {"downloading", FakeModelControl::downloading()},
                                                      {"installed", FakeModelControl::installed()},
                                                      {"failed", FakeModelControl::failed()}};
    for (const auto& [name, state] : states) {
        models.set(state);
        QTest::qWait(50);
        save(card.grab(), screenshotDir() + QStringLiteral("/model-card-%1.png").arg(name));
    }
}

void settingsSections()
{
    ManualClock clock;
    MemoryStore store;
    AppSettings settings(store);
    RecordingHistory history(store, clock);
    UsageTracker usage(store);
    settings.setDictionaryEntries({DictionaryEntry::make("Claude Code", "クロードコード"), DictionaryEntry::make("東京都", "とうきょうと")});
    settings.setContinuousMode(ContinuousMode::Auto);
    history.add(history.makeEntry("今日は晴れです。", {}));
    history.add(history.makeEntry("明日は雨ですよね？\n傘を持っていきます。", QStringLiteral("あしたはあめですよね")));
    usage.recordUsage(UsageMetadata{12345, 2345, {}, 512});
    FakeModelControl models;
    models.set(FakeModelControl::installed());
    for (AppearanceMode mode : {AppearanceMode::Light, AppearanceMode::Dark}) {
        settings.setAppearanceMode(mode);
        ContentView window(settings, history, usage, &models);
        window.generalView()->microphonePicker()->setDevices(
            {{"alsa_input.pci-analog", "内蔵マイク アナログステレオ"}, {"alsa_input.usb-headset", "USB ヘッドセット"}});
        window.resize(760, 620);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            ++failures;
        const QString suffix = mode == AppearanceMode::Light ? "light" : "dark";
        for (int i = 0; i < 5; ++i) {
            window.sidebar()->setCurrentRow(i);
            QTest::qWait(100);
            save(window.grab(), screenshotDir() + QStringLiteral("/settings-%1-%2.png").arg(i).arg(suffix));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    panelFaces();
    modelCardStates();
    settingsSections();
    std::printf("screenshots in %s\n", qPrintable(screenshotDir()));
    return failures == 0 ? 0 : 1;
}
