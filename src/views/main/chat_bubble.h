#pragma once
// One message of the chat window: a row with the bubble on its side (own
// messages right, others left, at least 70 px kept free on the other side),
// the sender's name over group messages of others, the text or the burned
// placeholder, and the meta line (🔥, time, "发送失败"). A row is updated in
// place when its message changes. Parts most messages never show (the name,
// the placeholder, 🔥, "发送失败") are made the first time a message needs
// them: a conversation opens with hundreds of rows, and every widget made is
// measured once the window shows.

#include <map>
#include <memory>

#include <QTextLayout>
#include <QWidget>

#include "app/chat_model.h"

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace corvane {

class PlainLabel;

// Plain text painted on a rounded fill, wrapped at word boundaries or, inside
// a word too long for the width, anywhere; selectable with the mouse and
// copied with Ctrl+C. Its accessible name is the text. Its layout is kept and
// laid out again only at another width, and its natural width and its height
// at each width asked are kept until the text or font changes: layouts ask for
// them many times while a window opens, and every layout shapes the text anew.
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
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Lays the text out for a text width (unless it already is); returns its height.
    int layOut(int textWidth) const;
    // The width of the longest line, unwrapped.
    int naturalWidth() const;
    int positionAt(const QPoint& point) const;
    void forgetSizes();

    QString text_;
    QColor color_;
    QColor fill_;
    int anchor_ = 0;
    int cursor_ = 0;
    mutable std::unique_ptr<QTextLayout> layout_;
    mutable int laidWidth_ = -1;
    mutable int laidHeight_ = 0;
    mutable int naturalWidth_ = -1;
    mutable std::map<int, int> heights_;
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
    // The burned placeholder; none until a message of this row needed it.
    QWidget* placeholder() const { return placeholder_; }

protected:
    // The ring round the message the keys are on.
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    Qt::Alignment side() const { return msg_.mine ? Qt::AlignRight : Qt::AlignLeft; }
    void showSender(bool shown);
    void showPlaceholder(bool shown);
    void showMetaBurn(bool shown);
    void showFailed(bool shown);

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
    QHBoxLayout* metaRow_ = nullptr;
};

}  // namespace corvane
