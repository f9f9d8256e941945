#include "views/main/file_row_delegate.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include "engine/format.h"
#include "views/app_style.h"
#include "views/data_text.h"
#include "views/main/file_list_model.h"
#include "views/main/row_action_list.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {

namespace {

constexpr int kIcon = 24;
constexpr int kButtonW = 22;
constexpr int kButtonH = 20;
constexpr int kButtonGap = 3;
constexpr int kMinSpacer = 6;

const FileItem* itemOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const FileListModel*>(index.model());
    if (!model || !index.isValid() || index.row() >= model->rowCount()) return nullptr;
    return &model->item(index.row());
}

bool remoteOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const FileListModel*>(index.model());
    return model && model->remote();
}

// The row without its separator line at the bottom.
QRect content(const QRect& row) { return row.adjusted(FileRowDelegate::insetH, FileRowDelegate::insetV, -FileRowDelegate::insetH, -FileRowDelegate::insetV); }

}  // namespace

FileRowDelegate::FileRowDelegate(QObject* parent)
    : QStyledItemDelegate(parent),
      nameFont_(Theme::font(12.5)),
      folderFont_(Theme::font(10)),
      sizeFont_(Theme::font(11)),
      ageFont_(Theme::font(10.5)),
      nameHeight_(QFontMetrics(nameFont_).height()),
      folderHeight_(QFontMetrics(folderFont_).height()) {}

std::vector<FileRowButton> FileRowDelegate::buttons(bool remote) {
    if (remote) {
        return {{"arrow.down.circle", QStringLiteral("下载到本机"), FileAction::download},
                {"arrow.down.forward.circle", QStringLiteral("下载并用默认程序打开"), FileAction::open},
                {"trash", QStringLiteral("删除"), FileAction::remove, true}};
    }
    return {{"arrow.up.forward.app", QStringLiteral("打开"), FileAction::open},
            {"folder", QStringLiteral("在文件管理器中显示"), FileAction::reveal},
            {"trash", QStringLiteral("删除"), FileAction::remove, true}};
}

QColor FileRowDelegate::iconColor(const std::string& name) {
    struct Row {
        std::vector<const char*> extensions;
        Tint tint;
    };
    static const std::vector<Row> rows = {
        {{"jpg", "jpeg", "png", "gif", "webp", "heic", "bmp", "tiff"}, Tint::pink},
        {{"mp4", "mov", "m4v", "webm", "mkv", "avi"}, Tint::purple},
        {{"txt", "md", "json", "log", "csv", "swift", "js", "css", "html"}, Tint::teal},
        {{"pdf"}, Tint::red},
        {{"zip", "rar", "7z"}, Tint::brown},
        {{"exe", "apk", "dmg"}, Tint::indigo},
    };
    const QString text = QString::fromStdString(name);
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : text.mid(dot + 1).toLower();
    for (const Row& row : rows) {
        for (const char* e : row.extensions) {
            if (ext == QLatin1String(e)) return Theme::tint(row.tint);
        }
    }
    return Theme::secondary();
}

QRect FileRowDelegate::buttonColumn(const QRect& row) {
    const QRect inner = content(row);
    return {inner.right() + 1 - buttonColumnWidth, inner.top(), buttonColumnWidth, inner.height()};
}

QRect FileRowDelegate::ageRect(const QRect& row) {
    const QRect column = buttonColumn(row);
    return {column.left() - spacing - ageWidth, column.top(), ageWidth, column.height()};
}

QRect FileRowDelegate::sizeRect(const QRect& row) {
    const QRect age = ageRect(row);
    return {age.left() - spacing - sizeWidth, age.top(), sizeWidth, age.height()};
}

QRect FileRowDelegate::iconRect(const QRect& row) {
    const QRect inner = content(row);
    return {inner.left(), inner.top() + (inner.height() - kIcon) / 2, kIcon, kIcon};
}

QRect FileRowDelegate::nameRect(const QRect& row) {
    const QRect inner = content(row);
    const int left = iconRect(row).right() + 1 + spacing;
    const int right = sizeRect(row).left() - spacing - kMinSpacer - spacing;
    return {left, inner.top(), std::max(0, right - left), inner.height()};
}

QRect FileRowDelegate::buttonRect(const QRect& row, int index) {
    // Three buttons, trailing-aligned in the column, centred vertically.
    const QRect column = buttonColumn(row);
    const int total = 3 * kButtonW + 2 * kButtonGap;
    const int left = column.right() + 1 - total + index * (kButtonW + kButtonGap);
    return {left, column.top() + (column.height() - kButtonH) / 2, kButtonW, kButtonH};
}

namespace {

QString oneLine(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

}  // namespace

QString FileRowDelegate::nameLine(const QString& name, int width) {
    return QFontMetrics(Theme::font(12.5)).elidedText(oneLine(name), Qt::ElideMiddle, width);
}

QString FileRowDelegate::folderLine(const QString& folder, int width) {
    return QFontMetrics(Theme::font(10)).elidedText(oneLine(folder), Qt::ElideLeft, width);
}

int FileRowDelegate::buttonAt(const QRect& row, const QPoint& point) {
    for (int k = 0; k < 3; ++k) {
        if (buttonRect(row, k).contains(point)) return k;
    }
    return -1;
}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    const FileItem* item = itemOf(index);
    const bool folder = item && !item->folder().empty();
    const int text = folder ? nameHeight_ + 1 + folderHeight_ : nameHeight_;
    return {0, 2 * insetV + std::max(kIcon, text) + 1};
}

void FileRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const FileItem* item = itemOf(index);
    if (!item) return;
    const bool hovering = option.state & QStyle::State_MouseOver;
    const bool focused = showsKeyboardFocus(option);
    // The row's height less the separator line at its bottom.
    const QRect row = option.rect.adjusted(0, 0, 0, -1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    if (hovering) painter->fillRect(row, Theme::primary(0.035));

    const QColor tint = iconColor(item->name);
    const QRect icon = iconRect(row);
    QColor tile = tint;
    tile.setAlphaF(0.11f * tint.alphaF());
    painter->setPen(Qt::NoPen);
    painter->setBrush(tile);
    painter->drawRoundedRect(QRectF(icon), 6, 6);
    painter->setFont(Symbols::font(13));
    painter->setPen(tint);
    painter->drawText(icon, Qt::AlignCenter, Symbols::glyph(item->icon()));

    const QRect name = nameRect(row);
    const std::string folderText = item->folder();
    const int block = folderText.empty() ? nameHeight_ : nameHeight_ + 1 + folderHeight_;
    const int top = name.top() + (name.height() - block) / 2;
    painter->setFont(nameFont_);
    painter->setPen(Theme::primary());
    painter->drawText(QRect(name.left(), top, name.width(), nameHeight_), Qt::AlignLeft | Qt::AlignVCenter,
                      nameLine(QString::fromStdString(item->name), name.width()));
    if (!folderText.empty()) {
        painter->setFont(folderFont_);
        painter->setPen(Theme::tertiary());
        painter->drawText(QRect(name.left(), top + nameHeight_ + 1, name.width(), folderHeight_),
                          Qt::AlignLeft | Qt::AlignVCenter, folderLine(QString::fromStdString(folderText), name.width()));
    }

    painter->setFont(sizeFont_);
    painter->setPen(Theme::secondary());
    painter->drawText(sizeRect(row), Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(humanSize(item->size)));
    painter->setFont(ageFont_);
    painter->setPen(Theme::tertiary());
    painter->drawText(ageRect(row), Qt::AlignRight | Qt::AlignVCenter, FileListModel::age(*item));

    // The buttons keep their place; they show under the pointer, and on the row the keys
    // reached, whose actions they are.
    if (focused) AppStyle::drawFocusRing(painter, QRectF(row).adjusted(3, 1, -3, -1), 7);
    if (hovering || focused) {
        const std::vector<FileRowButton> shown = buttons(remoteOf(index));
        painter->setFont(Symbols::font(12));
        for (size_t k = 0; k < shown.size(); ++k) {
            painter->setPen(shown[k].danger ? Theme::tint(Tint::red, 0.8) : Theme::secondary());
            painter->drawText(buttonRect(row, int(k)), Qt::AlignCenter, Symbols::glyph(shown[k].symbol));
        }
    }

    // The separator: 0.5 px, indented 44 px.
    painter->setPen(Qt::NoPen);
    painter->setBrush(Theme::primary(0.055));
    painter->drawRect(QRectF(option.rect.left() + 44, option.rect.bottom() + 0.5, option.rect.width() - 44, 0.5));
    painter->restore();
}

void FileRowDelegate::queue(FileAction action, const FileItem& item) {
    QTimer::singleShot(0, this, [this, action, item] { Q_EMIT triggered(action, item); });
}

bool FileRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) {
    const FileItem* item = itemOf(index);
    if (!item) return false;
    const QRect row = option.rect.adjusted(0, 0, 0, -1);
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            pressedRow_ = index.row();
            pressedButton_ = buttonAt(row, mouse->position().toPoint());
            return pressedButton_ >= 0;
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const int button = buttonAt(row, mouse->position().toPoint());
            const bool same = pressedRow_ == index.row() && pressedButton_ == button;
            pressedRow_ = pressedButton_ = -1;
            if (mouse->button() != Qt::LeftButton || button < 0 || !same) return false;
            queue(buttons(remoteOf(index))[size_t(button)].action, *item);
            return true;
        }
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) return false;
            pressedRow_ = pressedButton_ = -1;
            // On a button the double-click is the button's, whose first click has acted:
            // the row does not open as well (after a delete, or as a second download).
            if (buttonAt(row, mouse->position().toPoint()) < 0) queue(FileAction::open, *item);
            return true;
        }
        default: return false;
    }
}

bool FileRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index) {
    const FileItem* item = itemOf(index);
    if (!item || event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
    const int button = buttonAt(option.rect.adjusted(0, 0, 0, -1), event->pos());
    const QString text =
        button >= 0 ? buttons(remoteOf(index))[size_t(button)].help : FileListModel::toolTip(*item, remoteOf(index));
    QToolTip::showText(event->globalPos(), literalToolTip(text), view->viewport());
    return true;
}

}  // namespace corvane
