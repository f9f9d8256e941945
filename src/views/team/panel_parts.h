#pragma once
// The building blocks of the team panel: its titled boxes, the captioned fields,
// the team logo badge and the members' initial badges.

#include <string>

#include <QImage>
#include <QWidget>

#include "views/theme.h"

class QBoxLayout;
class QLabel;
class QLineEdit;
class QPainter;
class QVBoxLayout;

namespace corvane {

// The first character (a whole grapheme) of a text, upper-cased; "" for an empty text.
QString firstLetter(const QString& text);

// A titled box: a symbol and a title (12 px medium) above a rounded frame holding the content.
class PanelBox : public QWidget {
    Q_OBJECT

public:
    PanelBox(const std::string& symbol, const QString& title, const QColor& color, QWidget* parent = nullptr);
    QVBoxLayout* content() const { return content_; }
    QLabel* title() const { return title_; }

private:
    QLabel* title_ = nullptr;
    QVBoxLayout* content_ = nullptr;
};

// A caption (11 px secondary) above a one-line field, added to a layout; the field takes the
// caption as its accessible name and the placeholder as its description.
QLineEdit* addCaptionedField(QBoxLayout* into, QWidget* parent, const QString& caption, const QString& placeholder,
                             const char* objectName, bool secret, QLabel** captionOut = nullptr);

// The team logo, or on its gradient the first letter of a text, in a square of rounded corners.
class LogoBadge : public QWidget {
    Q_OBJECT

public:
    explicit LogoBadge(int side, QWidget* parent = nullptr);
    void display(const QImage& logo, const QString& text);
    QString letter() const { return letter_; }
    bool showsLogo() const { return !logo_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int side_;
    QImage logo_;
    QString letter_;
};

// A member's initial, white on the gradient in a circle of 26 px at `at`.
void paintInitial(QPainter& painter, const QPointF& at, const QString& letter, double opacity);

}  // namespace corvane
