// The history section with a long history: building and first painting the list, and one
// dictation's new entry (its save included). Offscreen; prints figures, never fails.
#include "BenchStore.h"
#include "common/Clock.h"
#include "settings/KeyValueStore.h"
#include "settings/RecordingHistory.h"
#include "ui/HistoryView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QListView>

#include <cstdio>
#include <fstream>
#include <string>

using namespace vel;

namespace {

long residentKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const int count : {10000, 100000}) {
        ManualClock clock;
        bench::BenchStore store;
        {
            // The history as a week of dictations left it.
            QList<RecordingEntry> entries;
            RecordingHistory seed(store, clock);
            for (int i = 0; i < count; ++i) {
                RecordingEntry e = seed.makeEntry(QStringLiteral("今日は晴れです。\n明日の会議は十時からです。%1").arg(i), {});
                e.date -= i * 5.0;
                entries.append(e);
            }
            store.setValue(QStringLiteral("recording_history"), KeyValueStore::encodeData(RecordingHistory::encode(entries)));
        }
        const long before = residentKilobytes();
        QElapsedTimer timer;
        timer.start();
        RecordingHistory history(store, clock);
        const double load = timer.nsecsElapsed() / 1e9;
        timer.restart();
        {
            HistoryView view(history);
            view.resize(600, 700);
            view.show();
            QApplication::processEvents();
            view.list()->viewport()->repaint();
            const double open = timer.nsecsElapsed() / 1e9;
            timer.restart();
            history.add(history.makeEntry(QStringLiteral("新しい記録です。"), {}));
            QApplication::processEvents();
            view.list()->viewport()->repaint();
            const double add = timer.nsecsElapsed() / 1e9;
            std::printf("%d entries: load %.3f s, open and paint %.3f s, one new entry %.3f s (its save included); "
                        "%+ld MB resident\n",
                        count, load, open, add, (residentKilobytes() - before) / 1024);
        }
    }
    return 0;
}
