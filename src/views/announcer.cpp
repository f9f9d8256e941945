#include "views/announcer.h"

#include <QAccessibleWidget>
#include <QTimer>

namespace corvane {

namespace {

// One told text: named at birth, never renamed.
class Alert : public QWidget {
    Q_OBJECT

public:
    Alert(const QString& text, QWidget* owner) : QWidget(owner), text_(text) {
        setObjectName(QStringLiteral("announcement"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        // Outside every layout, one pixel in the corner: it has a place on the screen, as a
        // shown object must, and covers nothing a person sees.
        setGeometry(0, 0, 1, 1);
    }
    const QString& text() const { return text_; }

private:
    const QString text_;
};

class AlertAccessible : public QAccessibleWidget {
public:
    explicit AlertAccessible(Alert* alert) : QAccessibleWidget(alert, QAccessible::AlertMessage) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return static_cast<const Alert*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* alertAccessible(const QString& className, QObject* object) {
    auto* alert = qobject_cast<Alert*>(object);
    if (alert == nullptr || className != QLatin1String(Alert::staticMetaObject.className())) return nullptr;
    return new AlertAccessible(alert);
}

}  // namespace

Announcer::Announcer(QWidget* owner) : QObject(owner), owner_(owner) {
    static const bool factoryInstalled = (QAccessible::installFactory(alertAccessible), true);
    (void)factoryInstalled;
    setObjectName(QStringLiteral("announcer"));
}

void Announcer::announce(const QString& text) {
    if (text.isEmpty()) return;
    text_ = text;
    ++toldCount_;
    std::erase_if(alerts_, [](const QPointer<QWidget>& alert) { return alert.isNull(); });
    while (alerts_.size() >= size_t(mostKept)) {
        delete alerts_.front().data();
        alerts_.erase(alerts_.begin());
    }
    auto* alert = new Alert(text, owner_);
    alerts_.emplace_back(alert);
    last_ = alert;
    // Shown, it is heard: the alert's "showing" is what a reader speaks.
    alert->show();
    QTimer::singleShot(keptMs, alert, &QObject::deleteLater);
}

}  // namespace corvane

#include "announcer.moc"
