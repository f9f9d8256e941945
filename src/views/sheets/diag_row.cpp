#include "views/sheets/diag_row.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "views/sheet.h"
#include "views/symbols.h"

namespace corvane {

namespace {

// The level's icon, its colour, and the word a screen reader says for it.
struct LevelLook {
    const char* symbol;
    Tint tint;
    const char* spoken;
};

LevelLook lookOf(DiagLine::Level level) {
    switch (level) {
        case DiagLine::Level::warn: return {"exclamationmark.triangle.fill", Tint::orange, "注意"};
        case DiagLine::Level::bad: return {"xmark.octagon.fill", Tint::red, "有问题"};
        case DiagLine::Level::ok: break;
    }
    return {"checkmark.circle.fill", Tint::green, "正常"};
}

}  // namespace

QString DiagRow::levelName(DiagLine::Level level) {
    switch (level) {
        case DiagLine::Level::warn: return QStringLiteral("warn");
        case DiagLine::Level::bad: return QStringLiteral("bad");
        case DiagLine::Level::ok: break;
    }
    return QStringLiteral("ok");
}

DiagRow::DiagRow(const DiagLine& line, QWidget* parent)
    : QWidget(parent),
      level_(levelName(line.level)),
      text_(QString::fromStdString(line.text)),
      hint_(line.hint ? QString::fromStdString(*line.hint) : QString()) {
    setObjectName(QStringLiteral("diagRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    const LevelLook look = lookOf(line.level);
    auto* icon = new SymbolLabel(look.symbol, 11, Theme::tint(look.tint), this);
    icon->setAccessibleName(QString::fromUtf8(look.spoken));
    icon->setContentsMargins(0, 2, 0, 0);
    row->addWidget(icon, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(3);
    texts->addWidget(sheetLabel(text_, 11.5, Weight::regular, Theme::primary(), true, this));
    if (line.hint) texts->addWidget(sheetLabel(hint_, 10.5, Weight::regular, Theme::secondary(), true, this));
    row->addLayout(texts, 1);
}

}  // namespace corvane
