#pragma once

#include "recording/ModelControl.h"

#include <QStringList>

namespace vel::test {

// Model controls that record what they were asked and show whatever state a test sets.
class FakeModelControl final : public ModelControl {
public:
    ModelState current;
    QStringList calls;

    void set(const ModelState& state)
    {
        current = state;
        emit stateChanged();
    }
    ModelState state() const override { return current; }
    void download() override { calls.append(QStringLiteral("download")); }
    void cancel() override { calls.append(QStringLiteral("cancel")); }
    void installArchive(const QString& zipPath) override { calls.append(QStringLiteral("installArchive ") + zipPath); }
    void remove() override { calls.append(QStringLiteral("remove")); }

    // The states the card shows, as the screenshots and the tests name them.
    static ModelState downloading()
    {
        ModelState s;
        s.phase = ModelState::Phase::Downloading;
        s.received = 16 * 1024 * 1024;
        s.total = 47 * 1024 * 1024;
        return s;
    }
    static ModelState installed()
    {
        ModelState s;
        s.phase = ModelState::Phase::Installed;
        s.name = QStringLiteral("vosk-model-small-ja-0.22");
        s.directory = QStringLiteral("/home/user/.local/share/velutanora/models/vosk-model-small-ja-0.22");
        s.bytesOnDisk = 68 * 1024 * 1024;
        s.installedModels = {QStringLiteral("small")};
        return s;
    }
    static ModelState failed()
    {
        ModelState s;
        s.phase = ModelState::Phase::Failed;
        s.reason = QStringLiteral("ダウンロードに失敗しました: ホストに接続できません");
        return s;
    }
};

} // namespace vel::test
