#pragma once
// What a screen reader is told without the keys moving: a result or a failure the
// person must know of (a send that failed, a submit that did not go through). A
// screen reader speaks neither a label renamed nor one shown somewhere else, so the
// text goes to an alert of its own: a tiny child that shows again, named by the text,
// each time it is told. Nothing is drawn and it takes no keys or clicks.

#include <QWidget>

namespace corvane {

class Announcer : public QWidget {
    Q_OBJECT

public:
    explicit Announcer(QWidget* parent);

    // Tells the text once (an empty text tells nothing).
    void announce(const QString& text);
    // The text told last.
    const QString& text() const { return text_; }

private:
    QString text_;
};

}  // namespace corvane
