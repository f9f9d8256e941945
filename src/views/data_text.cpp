#include "views/data_text.h"

#include <QWidget>

namespace corvane {

QString buttonTitle(const QString& text) {
    QString title = text;
    title.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return title;
}

void setDataToolTip(QWidget* widget, const QString& text) {
    if (text.isEmpty()) {
        widget->setToolTip({});
        widget->setAccessibleDescription({});
        return;
    }
    // Escaped inside a pre-wrap block: markup shows as typed, blanks and line breaks stay.
    widget->setToolTip(QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
                       QStringLiteral("</p>"));
    widget->setAccessibleDescription(text);
}

}  // namespace corvane
