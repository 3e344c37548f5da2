#pragma once

#include <QtGlobal>

#include <optional>

namespace vel {

// The token counts of one Gemini answer; a count the answer did not carry is absent, not 0.
struct UsageMetadata {
    std::optional<qint64> promptTokenCount;
    std::optional<qint64> candidatesTokenCount;
    std::optional<qint64> totalTokenCount;
    std::optional<qint64> thoughtsTokenCount;

    friend bool operator==(const UsageMetadata&, const UsageMetadata&) = default;
};

} // namespace vel
