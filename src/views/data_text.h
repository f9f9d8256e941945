#pragma once
// Data placed where Qt would read markup: tooltips (rich text when they look
// like it) and button titles ("&" marks a shortcut).

#include <QString>

class QWidget;

namespace corvane {

// A button title that shows every "&" of the data as it stands.
QString buttonTitle(const QString& text);

// Tooltip markup that shows the text literally, line breaks kept.
QString literalToolTip(const QString& text);

// A tooltip that shows the data literally, line breaks kept; accessibility
// reads the same text as the widget's description.
void setDataToolTip(QWidget* widget, const QString& text);

}  // namespace corvane
