#pragma once
// What a screen reader is told without the keys moving: a result or a failure the
// person must know of (a send that failed, a submit that did not go through). A
// screen reader speaks neither a label renamed nor one shown somewhere else, so each
// text goes to an alert of its own: a tiny child of the owner, named once by its text
// and shown as it is made. Readers ask an alert's name after the event, maybe after the
// next text was told: one object per text keeps two texts told in the same moment
// each heard in its own words. Nothing is drawn and no alert takes keys or clicks.

#include <QPointer>
#include <QWidget>

namespace corvane {

class Announcer : public QObject {
    Q_OBJECT

public:
    // The alerts are children of owner.
    explicit Announcer(QWidget* owner);

    // Tells the text once (an empty text tells nothing).
    void announce(const QString& text);
    // The text told last, the alert that tells it (null once it is gone) and how many texts were told.
    const QString& text() const { return text_; }
    QWidget* lastAlert() const { return last_; }
    int toldCount() const { return toldCount_; }

    // How long an alert stays for a reader to ask its name, and how many stay at the most.
    static constexpr int keptMs = 20000;
    static constexpr int mostKept = 16;

private:
    QWidget* owner_;
    QString text_;
    QPointer<QWidget> last_;
    std::vector<QPointer<QWidget>> alerts_;
    int toldCount_ = 0;
};

}  // namespace corvane
