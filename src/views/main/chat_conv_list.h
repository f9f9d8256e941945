#pragma once
// The conversation list of the chat window as a model and a painting
// delegate (AppState allows a thousand device rows). A row's display text is
// the title; its accessible description holds the preview, the time and the
// unread badge as shown. The open conversation's row is highlighted; the row the arrows
// reached while the list has the keyboard carries the focus ring.

#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QColor>
#include <QStyledItemDelegate>

#include "app/chat_model.h"

namespace corvane {

class ChatConvModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit ChatConvModel(QObject* parent = nullptr);

    // The same ids in the same order change rows in place; any other list replaces them.
    void setConvs(const std::vector<ChatConv>& convs);
    void setCurrent(const std::string& id);
    const ChatConv& conv(int row) const { return convs_.at(size_t(row)); }
    bool isCurrent(int row) const { return convs_.at(size_t(row)).id == current_; }

    // The badge's text: min(unread, 99); empty below 1.
    static QString badgeText(int unread);
    // The colour of a palette name; blue for an unknown one.
    static QColor tint(const std::string& name);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void announce(const std::string& id);

    std::vector<ChatConv> convs_;
    std::string current_;
};

class ChatConvDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit ChatConvDelegate(QObject* parent = nullptr);

    int rowHeight() const;
    // The badge's capsule in a row.
    QRect badgeRect(const QRect& row, const QString& text) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QFont titleFont_;
    QFont previewFont_;
    QFont timeFont_;
    QFont badgeFont_;
};

}  // namespace corvane
