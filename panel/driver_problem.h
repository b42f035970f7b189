#pragma once
// How a driver failure reads in the window: in Chinese, like every other
// text there, and broken into lines that a tooltip can show inside the window.
#include <QString>

class QFont;

namespace adcard {

struct DriverFailure;

// The operator's text for one loader failure; paragraphs separated by '\n'.
QString driverProblemText(const DriverFailure &failure);

// Breaks each paragraph of text into lines no wider than width pixels in
// font, between words where possible, anywhere inside a word too long for a
// line. Only line breaks are added.
QString wrapToWidth(const QString &text, const QFont &font, int width);

} // namespace adcard
