#pragma once
// Paints one file row: kind icon on a tinted tile, name (cut in the middle)
// and folder (cut at its head), size, age, and the hover buttons in a 78 px
// column that is always reserved, so no column moves when the pointer enters.
// No widget exists per row: the buttons are painted and hit-tested here. A
// button (or a double-click anywhere on the row but its buttons) queues its
// action with a copy of the file, so the action may replace the list without
// touching this row. A double-click on a button acts once, as that button.

#include <QColor>
#include <QStyledItemDelegate>
#include <vector>

#include "engine/model.h"

namespace corvane {

enum class FileAction { open, download, reveal, remove };

struct FileRowButton {
    std::string symbol;
    QString help;
    FileAction action;
    bool danger = false;
};

class FileRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int insetH = 16;
    static constexpr int insetV = 6;
    static constexpr int spacing = 9;
    static constexpr int buttonColumnWidth = 78;
    static constexpr int ageWidth = 76;
    static constexpr int sizeWidth = 74;

    explicit FileRowDelegate(QObject* parent = nullptr);

    // Remote rows: download, download and open, delete; local rows: open, reveal, delete.
    static std::vector<FileRowButton> buttons(bool remote);
    // The colour of the kind icon, from the name's lower-cased extension.
    static QColor iconColor(const std::string& name);

    // Where the parts of a row sit.
    static QRect buttonColumn(const QRect& row);
    static QRect buttonRect(const QRect& row, int index);
    static QRect ageRect(const QRect& row);
    static QRect sizeRect(const QRect& row);
    static QRect iconRect(const QRect& row);
    static QRect nameRect(const QRect& row);
    // The name cut in the middle and the folder cut at its head to a width, on one line.
    static QString nameLine(const QString& name, int width);
    static QString folderLine(const QString& folder, int width);
    // The button under a point of the row, or -1.
    static int buttonAt(const QRect& row, const QPoint& point);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

Q_SIGNALS:
    // Emitted from the event loop after the click, with the row's file as it was.
    void triggered(corvane::FileAction action, const corvane::FileItem& item);

private:
    void queue(FileAction action, const FileItem& item);

    QFont nameFont_;
    QFont folderFont_;
    QFont sizeFont_;
    QFont ageFont_;
    int nameHeight_;
    int folderHeight_;
    int pressedRow_ = -1;
    int pressedButton_ = -1;
};

}  // namespace corvane
