#pragma once

#include "settings/AppSettings.h"

#include <QString>

namespace vel {

// The instructions sent with every correction request, word for word.
namespace CorrectionPrompts {

QString buildOccupationContext(const QString& occupation);
QString buildTextPrompt(const QString& text, const QString& occupation, bool assumePoorDiction, CorrectionMode mode);
QString buildAudioPrompt(const QString& occupation, bool assumePoorDiction, CorrectionMode mode);

} // namespace CorrectionPrompts

} // namespace vel
