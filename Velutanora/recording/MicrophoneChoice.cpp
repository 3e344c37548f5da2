#include "recording/MicrophoneChoice.h"

namespace vel {

MicrophoneChoice chooseMicrophone(const QList<InputDevice>& devices, const QString& wantedId)
{
    if (wantedId.isEmpty())
        return {};
    for (const InputDevice& device : devices) {
        if (device.id == wantedId)
            return {wantedId, {}};
    }
    return {{}, QStringLiteral("⚠️ 選択したマイクが見つかりません。システムの既定のマイクで録音中...")};
}

} // namespace vel
