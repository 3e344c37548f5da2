#include "common/Clock.h"
#include "settings/AppSettings.h"
#include "settings/RecordingHistory.h"
#include "settings/UsageTracker.h"
#include "support/FakeModelControl.h"
#include "support/MemoryStore.h"
#include "support/Contrast.h"
#include "ui/ContentView.h"
#include "ui/HistoryModel.h"
#include "ui/DictionaryView.h"
#include "ui/GeneralSettingsView.h"
#include "ui/GlassCard.h"
#include "ui/HistoryView.h"
#include "ui/MicrophonePicker.h"
#include "ui/ModelCard.h"
#include "ui/ShortcutsView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QScrollArea>
#include <QSignalSpy>
#include <QPushButton>
#include <QTest>

using namespace vel;
using vel::test::FakeModelControl;
Q_DECLARE_METATYPE(vel::ModelState)
using vel::test::MemoryStore;
using vel::test::standsOut;

namespace {
// A key event as the X11 platform delivers it, with the keysym as the native virtual key.
void sendKey(QWidget* w, QEvent::Type type, int qtKey, Qt::KeyboardModifiers mods, quint32 keysym)
{
    QKeyEvent e(type, qtKey, mods, 0, keysym, 0);
    QApplication::sendEvent(w, &e);
}

// Answers the question a destructive action asks: its action, or the safe answer the way a user
// presses it (Space on the button that has the focus).
void answer(QWidget* within, bool accept)
{
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = within->window()->findChild<QMessageBox*>()) != nullptr);
    if (accept) {
        for (QAbstractButton* b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole)
                b->click();
    } else {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box, Qt::Key_Space);
    }
    delete box;
}

struct Fixture {
    MemoryStore store;
    ManualClock clock;
    AppSettings settings{store};
    RecordingHistory history{store, clock};
    UsageTracker usage{store};
};

} // namespace

class TestSettingsSections : public QObject {
    Q_OBJECT
private slots:
    // Every text follows the appearance, also after switching it with the window open: in the
    // dark one it is lighter than its background, in the light one darker; the history's rows too.
    void everyTextIsReadableInBothAppearances()
    {
        Fixture f;
        f.history.add(f.history.makeEntry("履歴の行も読める", {}));
        ContentView window(f.settings, f.history, f.usage);
        window.show();
        for (const AppearanceMode mode : {AppearanceMode::Dark, AppearanceMode::Light, AppearanceMode::Dark}) {
            f.settings.setAppearanceMode(mode);
            const bool dark = mode == AppearanceMode::Dark;
            for (int section = 0; section < 5; ++section) {
                window.select(ContentView::Section(section));
                QApplication::processEvents();
                QList<QWidget*> checked;
                // A chosen segment is white on the accent colour in both: it is left out.
                for (QWidget* w : window.sectionWidget(ContentView::Section(section))->findChildren<QWidget*>()) {
                    const auto* button = qobject_cast<QAbstractButton*>(w);
                    if (w->isVisible() && (qobject_cast<QLabel*>(w) || (button && !button->isChecked())))
                        checked << w;
                }
                if (section == int(ContentView::Section::History))
                    checked << window.historyView()->list()->viewport();
                for (QWidget* w : checked) {
                    const std::optional<bool> readable =
                        standsOut(window.grab(QRect(w->mapTo(&window, QPoint()), w->size())).toImage(), dark);
                    if (!readable)
                        continue; // outside the window's area, or nothing drawn
                    QVERIFY2(*readable, qPrintable(QStringLiteral("%1 \"%2\" in section %3 does not stand out (%4)")
                                                      .arg(w->metaObject()->className(), w->property("text").toString())
                                                      .arg(section)
                                                      .arg(dark ? "dark" : "light")));
                }
            }
        }
    }

    void generalBindings()
    {
        Fixture f;
        GeneralSettingsView view(f.settings);
        QTest::keyClicks(view.apiKeyField(), "AIza-1");
        QCOMPARE(f.settings.geminiApiKey(), QStringLiteral("AIza-1"));
        QCOMPARE(view.apiKeyField()->echoMode(), QLineEdit::Password);
        view.apiKeyField()->selectAll();
        QTest::keyClick(view.apiKeyField(), Qt::Key_Backspace);
        QCOMPARE(f.settings.geminiApiKey(), QString());
        QCOMPARE(f.store.value("gemini_api_key").toString(), QString());

        QTest::keyClicks(view.occupationField(), "engineer");
        QCOMPARE(f.settings.userOccupation(), QStringLiteral("engineer"));

        view.appearancePicker()->clickSegment(2);
        QCOMPARE(f.settings.appearanceMode(), AppearanceMode::Dark);

        view.correctionPicker()->clickSegment(2);
        QCOMPARE(f.settings.correctionMode(), CorrectionMode::Quality);
        // A mode that uploads the recording says so, and says when no key keeps it local.
        QVERIFY(view.correctionNoteLabel()->text().startsWith(GeneralSettingsView::correctionNote(2)));
        QVERIFY(view.correctionNoteLabel()->text().contains("Google"));
        QVERIFY(view.correctionNoteLabel()->text().contains("APIキーが未設定"));
        QTest::keyClicks(view.apiKeyField(), "k");
        QVERIFY(!view.correctionNoteLabel()->text().contains("APIキーが未設定"));
        view.continuousPicker()->clickSegment(1);
        QCOMPARE(f.settings.continuousMode(), ContinuousMode::PasteOnly);
        QCOMPARE(view.continuousNoteLabel()->text(), GeneralSettingsView::continuousNote(1));

        view.stealthToggle()->click();
        QVERIFY(f.settings.stealthMode());
        view.poorDictionToggle()->click();
        QVERIFY(f.settings.assumePoorDiction());
        view.fillersToggle()->click();
        QVERIFY(!f.settings.removeFillers());
        view.launchAtLoginToggle()->click();
        QVERIFY(f.settings.launchAtLogin());
    }

    void modelCard_data()
    {
        QTest::addColumn<ModelState>("state");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("buttons"); // visible and enabled
        ModelState absent;
        ModelState unavailable;
        unavailable.phase = ModelState::Phase::Unavailable;
        unavailable.reason = "libvosk なし";
        ModelState unknownSize = FakeModelControl::downloading();
        unknownSize.total = 0;
        ModelState installing;
        installing.phase = ModelState::Phase::Installing;
        QTest::newRow("absent") << absent << "未インストール" << "ダウンロード ファイルからインストール…";
        QTest::newRow("downloading") << FakeModelControl::downloading() << "ダウンロード中 34 % (16 / 47 MB)" << "キャンセル";
        QTest::newRow("size unknown") << unknownSize << "ダウンロード中 (16 MB)" << "キャンセル";
        QTest::newRow("installing") << installing << "展開して確認中..." << "";
        QTest::newRow("installed") << FakeModelControl::installed()
                                   << "インストール済み: vosk-model-small-ja-0.22（68 MB）\n"
                                      "/home/user/.local/share/velutanora/models/vosk-model-small-ja-0.22"
                                   << "ファイルからインストール… 削除";
        QTest::newRow("failed") << FakeModelControl::failed() << "失敗: ダウンロードに失敗しました: ホストに接続できません"
                                << "再試行 ファイルからインストール…";
        ModelState broken = FakeModelControl::failed();
        broken.reason = "model.int8.onnx を読み込めません";
        broken.directory = "/m/sherpa-onnx-nemo-parakeet-tdt_ctc-0.6b-ja-35000-int8";
        broken.fallback = "⚠️ 選んだモデル「高精度 Parakeet（625 MB）」は使えないため（…）、インストール済みの「標準（48 MB）」で認識しています";
        QTest::newRow("a folder that does not load, another standing in")
            << broken << "失敗: model.int8.onnx を読み込めません\n" + broken.fallback.mid(3) << "再試行 ファイルからインストール… 削除";
        QTest::newRow("no libvosk") << unavailable << "使用できません: libvosk なし" << "";
    }
    void modelCard()
    {
        QFETCH(ModelState, state);
        QFETCH(QString, line);
        QFETCH(QString, buttons);
        Fixture f;
        FakeModelControl control;
        ModelCard card(control, f.settings, [](QWidget*) { return QStringLiteral("/tmp/model.zip"); });
        card.show();
        control.set(state);
        QCOMPARE(card.stateLine()->text(), line);
        QCOMPARE(card.modelPicker()->itemText(0).endsWith(QStringLiteral("・インストール済み")), state.installedModels.contains("small"));
        QStringList usable;
        for (QPushButton* b : {card.downloadButton(), card.cancelButton(), card.archiveButton(), card.removeButton()})
            if (b->isVisible() && b->isEnabled())
                usable << b->text();
        QCOMPARE(usable.join(' '), buttons);
        for (QPushButton* b : {card.downloadButton(), card.cancelButton(), card.archiveButton(), card.removeButton()})
            if (b->isVisible() && b->isEnabled())
                b->click();
        QStringList expected;
        for (const QString& b : usable)
            expected << (b == "ダウンロード" || b == "再試行" ? "download"
                         : b == "キャンセル"                ? "cancel"
                         : b == "削除"                      ? "remove"
                                                            : "installArchive /tmp/model.zip");
        QCOMPARE(control.calls, expected);
        // Another model stays choosable when this one's engine is missing.
        const bool choosable = state.phase != ModelState::Phase::Downloading && state.phase != ModelState::Phase::Installing;
        QCOMPARE(card.modelPicker()->isEnabled(), choosable);
        if (choosable) {
            card.modelPicker()->activated(1);
            QCOMPARE(f.settings.recognizerModel(), QStringLiteral("large"));
        }
    }

    void microphonePicker()
    {
        Fixture f;
        GeneralSettingsView view(f.settings);
        MicrophonePicker* picker = view.microphonePicker();
        QComboBox* combo = picker->combo();
        const QList<InputDevice> both{{"alsa_input.pci-analog", "内蔵マイク"}, {"alsa_input.usb-headset", "USB ヘッドセット"}};
        picker->setDevices(both);
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentText(), QStringLiteral("システムの既定"));
        QTest::keyClick(combo, Qt::Key_Down); // the keyboard chooses as a click would
        QCOMPARE(f.settings.microphoneId(), QStringLiteral("alsa_input.pci-analog"));
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        QCOMPARE(f.settings.microphoneId(), QStringLiteral("alsa_input.usb-headset"));
        QVERIFY(picker->note()->isHidden());

        // Unplugged: the choice is kept, marked, and the default is said to be used.
        picker->setDevices({both[0]});
        QCOMPARE(combo->currentData().toString(), QStringLiteral("alsa_input.usb-headset"));
        QCOMPARE(combo->currentText(), QStringLiteral("接続されていないマイク"));
        QVERIFY(!picker->note()->isHidden());
        QCOMPARE(f.settings.microphoneId(), QStringLiteral("alsa_input.usb-headset"));
        // Plugged in again.
        picker->setDevices(both);
        QCOMPARE(combo->currentText(), QStringLiteral("USB ヘッドセット"));
        QVERIFY(picker->note()->isHidden());
        // Another process's change shows.
        f.settings.setMicrophoneId(QString());
        QCOMPARE(combo->currentIndex(), 0);
    }

    void dictionaryAddRules()
    {
        Fixture f;
        DictionaryView view(f.settings);
        AddDictionaryEntryField* field = view.addField();
        QVERIFY(!field->addButton()->isEnabled());
        field->readingField()->setText("  クロードコード ");
        field->termField()->setText("Claude Code");
        QVERIFY(field->addButton()->isEnabled());
        field->addButton()->click();
        QCOMPARE(f.settings.dictionaryEntries().size(), 1);
        QCOMPARE(f.settings.dictionaryEntries().first().reading, QStringLiteral("クロードコード"));
        QCOMPARE(f.settings.dictionaryEntries().first().term, QStringLiteral("Claude Code"));
        QVERIFY(field->readingField()->text().isEmpty());
        QVERIFY(field->termField()->text().isEmpty());

        field->readingField()->setText("   ");
        field->termField()->setText("X");
        QVERIFY2(field->addButton()->isEnabled(), "a field of spaces is not empty");
        field->addButton()->click();
        QCOMPARE(f.settings.dictionaryEntries().size(), 1);
        QCOMPARE(field->readingField()->text(), QStringLiteral("   ")); // the fields keep their text
    }

    void dictionaryRemovesByIdAndResets()
    {
        Fixture f;
        const DictionaryEntry a = DictionaryEntry::make("東京", "とうきょう");
        const DictionaryEntry b = DictionaryEntry::make("東京", "とうきょう");
        f.settings.setDictionaryEntries({a, b});
        DictionaryView view(f.settings);
        QCOMPARE(view.rowCount(), 2);
        view.removeButton(1)->click();
        QCOMPARE(f.settings.dictionaryEntries(), (QList<DictionaryEntry>{a}));
        QCOMPARE(view.rowCount(), 1);
        view.resetButton()->click();
        answer(&view, false);
        QCOMPARE(view.rowCount(), 1);
        view.resetButton()->click();
        answer(&view, true);
        QVERIFY(f.settings.dictionaryEntries().isEmpty());
        QVERIFY(f.store.data("dictionary_entries"));
    }

    void historySection()
    {
        Fixture f;
        HistoryView view(f.history);
        view.resize(500, 400);
        view.show();
        QVERIFY(view.isShowingEmptyState());
        QAbstractItemModel* model = view.list()->model();
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        f.history.add(f.history.makeEntry("一つ目", {}));
        QVERIFY(!view.isShowingEmptyState());
        QCOMPARE(view.headerText(), QStringLiteral("1件の記録"));
        const QString longText = QStringLiteral("二つ目の文です。\n").repeated(12);
        f.history.add(f.history.makeEntry(longText, {}));
        QCOMPARE(view.headerText(), QStringLiteral("2件の記録"));
        // A dictation adds one row at the top; nothing else is rebuilt.
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.last().at(1).toInt(), 0);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(model->index(0, 0).data().toString(), longText);

        // An opened row holds the whole text, to select any part of it.
        view.list()->edit(model->index(0, 0));
        auto* editor = view.list()->findChild<QPlainTextEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->toPlainText(), longText);
        QVERIFY(editor->isReadOnly());
        view.list()->closePersistentEditor(model->index(0, 0));
        view.list()->setFocus();
        view.list()->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(1, 0)),
                                              QItemSelectionModel::ClearAndSelect);
        view.copySelected();
        QCOMPARE(QGuiApplication::clipboard()->text(), longText + "\n一つ目");

        // Another process's entry comes in with the next save: the list shows it too.
        RecordingHistory other(f.store, f.clock);
        other.add(other.makeEntry("別のプロセス", {}));
        f.clock.advance(1);
        f.history.add(f.history.makeEntry("三つ目", {}));
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->rowCount(), 4);
        QCOMPARE(view.headerText(), QStringLiteral("4件の記録"));
        view.searchField()->setText(QStringLiteral("別の"));
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("別のプロセス"));
        view.searchField()->clear();
        QCOMPARE(model->rowCount(), 4);

        view.list()->setCurrentIndex(model->index(0, 0));
        QTest::keyClick(view.list(), Qt::Key_Delete);
        answer(&view, true);
        QCOMPARE(f.history.entries().size(), 3);
        QVERIFY(f.history.entries().first().text != QStringLiteral("三つ目"));
        QCOMPARE(model->rowCount(), 3);
        view.clearButton()->click();
        answer(&view, false);
        QCOMPARE(f.history.entries().size(), 3);
        view.clearButton()->click();
        answer(&view, true);
        QVERIFY(f.history.entries().isEmpty());
        QVERIFY(view.isShowingEmptyState());
    }

    // Every section is reached by keys, and a Space there destroys nothing.
    void theKeyboardReachesEverySectionAndASpaceDeletesNothing()
    {
        Fixture f;
        f.history.add(f.history.makeEntry("残るはず", {}));
        ContentView window(f.settings, f.history, f.usage);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (int section = 1; section <= 5; ++section) {
            QTest::keyClick(&window, Qt::Key(Qt::Key_0 + section), Qt::ControlModifier);
            QCOMPARE(window.selectedSection(), ContentView::Section(section - 1));
        }
        QTest::keyClick(&window, Qt::Key_PageUp, Qt::ControlModifier);
        QTest::keyClick(&window, Qt::Key_PageUp, Qt::ControlModifier);
        QTest::keyClick(&window, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(window.selectedSection(), ContentView::Section::History);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // into the section
        for (int i = 0; i < 3; ++i) {
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            QTest::keyClick(focused, Qt::Key_Space);
        }
        QCOMPARE(f.history.entries().size(), 1);
    }

    // Every page fits the window's default width: nothing is cut off behind a sideways scroll.
    void everyPageFitsTheDefaultWidth()
    {
        Fixture f;
        FakeModelControl control;
        ContentView window(f.settings, f.history, f.usage, &control);
        window.resize(760, 560);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int section = 0; section < 5; ++section) {
            window.select(ContentView::Section(section));
            QApplication::processEvents();
            QWidget* page = window.sectionWidget(ContentView::Section(section));
            QVERIFY2(page->minimumSizeHint().width() <= 560, qPrintable(ContentView::title(ContentView::Section(section))));
            for (QScrollArea* area : page->findChildren<QScrollArea*>())
                QVERIFY2(!area->horizontalScrollBar()->isVisible(), qPrintable(ContentView::title(ContentView::Section(section))));
        }
    }

    void historyDatesReadAsJapanese()
    {
        const QDateTime now(QDate(2026, 12, 9), QTime(10, 0));
        const auto at = [](const QDate& d, const QTime& t) {
            return referenceDateFromUnix(static_cast<double>(QDateTime(d, t).toMSecsSinceEpoch()) / 1000.0);
        };
        QCOMPARE(HistoryModel::dateText(at(QDate(2026, 12, 9), QTime(1, 7)), now), QStringLiteral("今日 1:07"));
        QCOMPARE(HistoryModel::dateText(at(QDate(2026, 12, 8), QTime(23, 40)), now), QStringLiteral("昨日 23:40"));
        QCOMPARE(HistoryModel::dateText(at(QDate(2026, 12, 3), QTime(9, 5)), now), QStringLiteral("12月3日 9:05"));
    }

    void historyPurgesWhenShown()
    {
        Fixture f;
        f.history.add(f.history.makeEntry("古い", {}));
        HistoryView view(f.history);
        f.clock.advance(8 * 86400);
        QVERIFY(!view.isShowingEmptyState());
        view.show();
        QVERIFY2(view.isShowingEmptyState(), "showing the section purges what is older than a week");
    }

    void shortcutRecorder_data()
    {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<QString>("recorded"); // empty: unchanged
        QTest::newRow("Esc alone cancels") << int(Qt::Key_Escape) << 0 << 0xff1bu << "";
        QTest::newRow("Shift+Esc is recorded") << int(Qt::Key_Escape) << int(Qt::ShiftModifier) << 0xff1bu << "Shift+Esc";
        QTest::newRow("Super+K") << int(Qt::Key_K) << int(Qt::MetaModifier) << uint('k') << "Super+K";
        QTest::newRow("Shift+A, which X reports as A") << int(Qt::Key_A) << int(Qt::ShiftModifier) << uint('A') << "Shift+A";
        QTest::newRow("Shift+1 reports !, which no grab sees") << int(Qt::Key_Exclam) << int(Qt::ShiftModifier) << uint('!') << "";
        QTest::newRow("without a native key") << int(Qt::Key_F5) << 0 << 0u << "F5";
    }
    void shortcutRecorder()
    {
        QFETCH(int, qtKey);
        QFETCH(int, modifiers);
        QFETCH(uint, keysym);
        QFETCH(QString, recorded);
        Fixture f;
        ShortcutsView view(f.settings);
        ShortcutRecorderView* recorder = view.startRecorder();
        recorder->click();
        QVERIFY(recorder->isRecording());
        if (modifiers & Qt::MetaModifier)
            sendKey(recorder, QEvent::KeyPress, Qt::Key_Meta, Qt::MetaModifier, 0xffeb); // the modifier alone waits
        QVERIFY(recorder->isRecording());
        sendKey(recorder, QEvent::KeyPress, qtKey, Qt::KeyboardModifiers(modifiers), keysym);
        if (!recorded.isEmpty())
            QVERIFY(!recorder->isRecording());
        QCOMPARE(f.settings.startShortcut().label(), recorded.isEmpty() ? QStringLiteral("Alt+Space") : recorded);
        recorder->stopRecording();
        QCOMPARE(recorder->text(), f.settings.startShortcut().label());
    }

    void loneModifiersAreToldApartBySide()
    {
        Fixture f;
        ShortcutsView view(f.settings);
        ShortcutRecorderView* recorder = view.startRecorder();
        recorder->click();
        sendKey(recorder, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, 0xffe4);
        QVERIFY(recorder->isRecording());
        sendKey(recorder, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier, 0xffe4);
        QVERIFY(!recorder->isRecording());
        QCOMPARE(f.settings.startShortcut(), (ShortcutKey{0xffe4, 0}));
        QCOMPARE(recorder->text(), QStringLiteral("右Ctrl"));

        // Released while another modifier is still down: not a lone modifier yet.
        recorder->click();
        sendKey(recorder, QEvent::KeyRelease, Qt::Key_Super_R, Qt::ShiftModifier | Qt::MetaModifier, 0xffec);
        QVERIFY(recorder->isRecording());
        sendKey(recorder, QEvent::KeyRelease, Qt::Key_Super_R, Qt::MetaModifier, 0xffec);
        QCOMPARE(f.settings.startShortcut(), (ShortcutKey{0xffec, 0}));

        // Where nothing can read a lone modifier (Wayland without /dev/input), it is refused and the note says why.
        view.refuseLoneModifiers(QStringLiteral("no permission to read /dev/input"));
        recorder->click();
        sendKey(recorder, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier, 0xffe4);
        QVERIFY(!recorder->isRecording());
        QCOMPARE(f.settings.startShortcut(), (ShortcutKey{0xffec, 0}));
        QVERIFY(view.recorderNote()->text().contains(QStringLiteral("/dev/input")));
        recorder->click();
        sendKey(recorder, QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier, ' ');
        QCOMPARE(f.settings.startShortcut(), ShortcutKey::defaultStart());
    }

    void leavingTheSectionStopsCapturing()
    {
        Fixture f;
        ShortcutsView view(f.settings);
        view.show();
        view.startRecorder()->click();
        QVERIFY(view.startRecorder()->isRecording());
        view.hide();
        QVERIFY(!view.startRecorder()->isRecording());
    }
};

QTEST_MAIN(TestSettingsSections)
#include "tst_SettingsSections.moc"
