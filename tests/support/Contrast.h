#pragma once

#include <QColor>
#include <QHash>
#include <QImage>

#include <algorithm>
#include <optional>

namespace vel::test {

// Whether what is drawn on the image stands out from its background (its most common colour):
// lighter than it in the dark appearance, darker in the light one. None when nothing is drawn.
inline std::optional<bool> standsOut(const QImage& image, bool dark)
{
    QHash<QRgb, int> counts;
    int darkest = 255, lightest = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c(image.pixel(x, y));
            if (c.alpha() == 0)
                continue;
            ++counts[c.rgb()];
            darkest = std::min(darkest, c.lightness());
            lightest = std::max(lightest, c.lightness());
        }
    if (counts.size() < 2)
        return std::nullopt;
    const int background = QColor(std::max_element(counts.cbegin(), counts.cend()).key()).lightness();
    return dark ? lightest - background > background - darkest : background - darkest > lightest - background;
}

} // namespace vel::test
