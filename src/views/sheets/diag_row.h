#pragma once
// One finding of the network diagnostics: the level's icon (named by its
// level in words), the finding and, when there is one, the hint, both wrapping.

#include <QWidget>

#include "engine/model.h"

namespace corvane {

class DiagRow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString level READ level)
    Q_PROPERTY(QString text READ text)
    Q_PROPERTY(QString hint READ hint)

public:
    explicit DiagRow(const DiagLine& line, QWidget* parent = nullptr);

    static QString levelName(DiagLine::Level level);

    QString level() const { return level_; }
    QString text() const { return text_; }
    QString hint() const { return hint_; }

private:
    QString level_;
    QString text_;
    QString hint_;
};

}  // namespace corvane
