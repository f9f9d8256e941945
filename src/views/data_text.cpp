#include "views/data_text.h"

#include <QWidget>

namespace corvane {

QString buttonTitle(const QString& text) {
    QString title = text;
    title.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return title;
}

QString literalToolTip(const QString& text) {
    // Escaped inside a pre-wrap block: markup shows as typed, blanks and line breaks stay.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void setDataToolTip(QWidget* widget, const QString& text) {
    if (text.isEmpty()) {
        widget->setToolTip({});
        widget->setAccessibleDescription({});
        return;
    }
    widget->setToolTip(literalToolTip(text));
    widget->setAccessibleDescription(text);
}

}  // namespace corvane
