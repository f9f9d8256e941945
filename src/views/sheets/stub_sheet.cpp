#include "views/sheets/stub_sheet.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "views/controls.h"
#include "views/data_labels.h"
#include "views/theme.h"

namespace corvane {

StubSheet::StubSheet(const StubSpec& spec, QWidget* parent) : QDialog(parent) {
    setWindowTitle(spec.title);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    auto* heading = new PlainLabel(spec.title, this);
    heading->setFont(Theme::font(14, Weight::semibold));
    column->addWidget(heading);
    column->addStretch(1);
    auto* close = smallButton(QStringLiteral("关闭"), this);
    column->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    if (spec.height > 0) {
        setFixedSize(spec.width, spec.height);
    } else {
        setFixedWidth(spec.width);
    }
}

}  // namespace corvane
