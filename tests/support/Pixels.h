#pragma once
#include <QColor>
#include <QImage>
#include <QRect>

class QWidget;

// What a widget draws, read back from its rendering: tests look at the pixels
// the user sees, not at the properties that were set.
namespace pixels {

// The widget rendered as it would be drawn on the screen.
QImage drawn(QWidget* widget);

// Pixels within `area` whose colour is within `tolerance` (per channel) of `colour`.
int countColour(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 48);

// Pixels within `area` that are clearly darker than the background: text and lines.
int ink(const QImage& image, const QRect& area);

// The smallest rectangle holding every ink pixel of `area` (null when there is none).
QRect inkBounds(const QImage& image, const QRect& area);

} // namespace pixels
