#include "recording/ModelControl.h"

#include <cmath>

namespace vel {

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(std::llround(static_cast<double>(bytes) / (1024.0 * 1024.0)));
}

} // namespace

QString ModelState::line() const
{
    const QString state = phaseLine();
    return fallback.isEmpty() ? state : state + QLatin1Char('\n') + fallback;
}

QString ModelState::phaseLine() const
{
    switch (phase) {
    case Phase::Unavailable: return QStringLiteral("使用できません: ") + reason;
    case Phase::Absent: return QStringLiteral("未インストール");
    case Phase::Downloading:
        if (total <= 0)
            return QStringLiteral("ダウンロード中 (%1 MB)").arg(megabytes(received));
        return QStringLiteral("ダウンロード中 %1 % (%2 / %3 MB)")
            .arg(received * 100 / total)
            .arg(megabytes(received), megabytes(total));
    case Phase::Installing: return QStringLiteral("展開して確認中...");
    case Phase::Installed:
        return QStringLiteral("インストール済み: %1（%2 MB）\n%3").arg(name, megabytes(bytesOnDisk), directory);
    case Phase::Failed: return QStringLiteral("失敗: ") + reason;
    }
    return {};
}

} // namespace vel
