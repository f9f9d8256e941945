#pragma once
// One message of the chat window: a row with the bubble on its side (own
// messages right, others left, at least 70 px kept free on the other side),
// the sender's name over group messages of others, the text or the burned
// placeholder, and the meta line (🔥, time, "发送失败"). A row is updated in
// place when its message changes.

#include <QWidget>

#include "app/chat_model.h"

class QHBoxLayout;
class QLabel;
class QTextLayout;
class QVBoxLayout;

namespace corvane {

class PlainLabel;

// Plain text painted on a rounded fill, wrapped at word boundaries or, inside
// a word too long for the width, anywhere; selectable with the mouse and
// copied with Ctrl+C. Its accessible name is the text.
class BubbleText : public QWidget {
    Q_OBJECT

public:
    static constexpr int padH = 12;
    static constexpr int padV = 8;
    static constexpr int lineGap = 3;

    explicit BubbleText(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return text_; }
    void setColors(const QColor& text, const QColor& fill);
    QString selectedText() const;
    void selectAll();

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Lays the text out for a text width; returns its height.
    int layOut(QTextLayout& layout, int textWidth) const;
    // The width of the longest line, unwrapped.
    int naturalWidth() const;
    int positionAt(const QPoint& point) const;

    QString text_;
    QColor color_;
    QColor fill_;
    int anchor_ = 0;
    int cursor_ = 0;
};

class ChatBubble : public QWidget {
    Q_OBJECT

public:
    static constexpr int freeSide = 70;

    explicit ChatBubble(const ChatMsg& msg, QWidget* parent = nullptr);

    void setMsg(const ChatMsg& msg);
    const ChatMsg& msg() const { return msg_; }

    // Which body a message shows.
    static bool showsPlaceholder(const ChatMsg& msg) { return msg.burn && msg.burned; }
    static bool showsSender(const ChatMsg& msg) { return msg.to == "all" && !msg.mine; }

    BubbleText* body() const { return text_; }
    QWidget* placeholder() const { return placeholder_; }

private:
    void build();

    ChatMsg msg_;
    QHBoxLayout* row_ = nullptr;
    QVBoxLayout* column_ = nullptr;
    PlainLabel* sender_ = nullptr;
    BubbleText* text_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QLabel* metaBurn_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* failed_ = nullptr;
    QWidget* meta_ = nullptr;
};

}  // namespace corvane
