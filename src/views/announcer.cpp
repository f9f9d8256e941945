#include "views/announcer.h"

#include <QAccessibleWidget>

namespace corvane {

namespace {

class AnnouncerAccessible : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer* announcer) : QAccessibleWidget(announcer, QAccessible::AlertMessage) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return static_cast<const Announcer*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* announcerAccessible(const QString& className, QObject* object) {
    auto* announcer = qobject_cast<Announcer*>(object);
    if (announcer == nullptr || className != QLatin1String(Announcer::staticMetaObject.className())) return nullptr;
    return new AnnouncerAccessible(announcer);
}

}  // namespace

Announcer::Announcer(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(announcerAccessible), true);
    (void)factoryInstalled;
    setObjectName(QStringLiteral("announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // Outside every layout, one pixel in the corner: it has a place on the screen, as a
    // shown object must, and covers nothing a person sees.
    setGeometry(0, 0, 1, 1);
    hide();
}

void Announcer::announce(const QString& text) {
    if (text.isEmpty()) return;
    hide();
    if (text != text_) {
        // Readers keep the names they asked for until told they changed.
        text_ = text;
        QAccessibleEvent renamed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
    // Shown again, it is heard again: the alert's "showing" is what a reader speaks.
    show();
}

}  // namespace corvane
