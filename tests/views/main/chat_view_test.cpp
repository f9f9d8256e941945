// The chat window: its frame, the conversation rows (badges, highlight,
// texts, opening), openChat once per presentation, the pane's header and
// subtitle, clearing behind its alert, bubbles (sender names, the burned
// placeholder, "发送失败", literal markup, in-place updates, wrapping), the
// composer (trimming, blank drafts, the read-once switch, Enter and
// Shift+Enter, its height), following the newest message, and closing.
#include <functional>
#include <map>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "views/main/chat_bubble.h"
#include "views/main/chat_composer.h"
#include "views/main/chat_conv_list.h"
#include "views/main/chat_history_keys.h"
#include "views/main/chat_pane.h"
#include "views/main/chat_view.h"
#include "views/main/root_sheets.h"
#include "views/main/row_action_list.h"
#include "views/sheet_host.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

ChatMsg message(const std::string& id, const std::string& to, const std::string& text, bool mine = false) {
    ChatMsg msg;
    msg.id = id;
    msg.from = mine ? "self" : "dev-1";
    msg.fromName = mine ? "测试机" : "<b>A&B</b>";
    msg.to = to;
    msg.text = text;
    msg.ts = 1'700'000'000'000.0;
    msg.mine = mine;
    return msg;
}

ChatConv conv(const std::string& id, const std::string& title, int unread = 0) {
    ChatConv c;
    c.id = id;
    c.title = title;
    c.sub = "离线";
    c.isGroup = id == "all";
    c.unread = unread;
    c.lastText = "点这里开始对话";
    return c;
}

class ChatTest : public test::ViewsTest {
protected:
    ChatTest() {
        qputenv("CORVANE_NO_ANIM", "1");
        state->setDeviceName("测试机");
    }
    ~ChatTest() override { qunsetenv("CORVANE_NO_ANIM"); }

    ChatView& open() {
        view = std::make_unique<ChatView>(*state);
        view->show();
        settle();
        return *view;
    }
    template <typename W = QWidget>
    W* part(const char* name) {
        return child<W>(*view, name);
    }
    ChatPane* pane() { return view->pane(); }
    void type(const QString& text) { QTest::keyClicks(pane()->input(), text); }
    std::vector<ChatMsg> current() { return state->chatMsgsForCurrent(); }

    std::unique_ptr<ChatView> view;
};

TEST_F(ChatTest, theWindowIsFixedWithItsListColumnAndNoAutoDefaultButton) {
    open();
    EXPECT_EQ(view->windowTitle(), QStringLiteral("办公室聊天"));
    EXPECT_EQ(view->size(), QSize(930, 630));
    EXPECT_EQ(view->minimumSize(), view->maximumSize());
    EXPECT_EQ(view->convList()->parentWidget()->width(), ChatView::listWidth);
    for (QPushButton* button : view->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
    }
    EXPECT_EQ(part<QLabel>("chatSelf")->text(), QStringLiteral("本机 · 测试机"));
    state->setDeviceName("R&D <i>Mac</i>");
    EXPECT_EQ(part<QLabel>("chatSelf")->text(), QStringLiteral("本机 · R&D <i>Mac</i>"));
}

TEST_F(ChatTest, badgesHighlightAndRowTexts) {
    const std::pair<int, const char*> badges[] = {{0, ""}, {1, "1"}, {98, "98"}, {99, "99"}, {250, "99"}, {-3, ""}};
    for (const auto& [unread, text] : badges) EXPECT_EQ(ChatConvModel::badgeText(unread), QString::fromUtf8(text));
    EXPECT_EQ(ChatConvModel::tint("purple"), Theme::tint(Tint::purple));
    EXPECT_EQ(ChatConvModel::tint(""), Theme::tint(Tint::blue));

    state->setChatConvs({conv("all", "全员频道"), conv("dev-1", "<b>R&D</b>", 250)});
    state->setChatCurrent("dev-9");  // names no row: nothing is highlighted
    open();
    ChatConvModel* model = view->convModel();
    // Opening the window opened "dev-9" again: it has a row now, and the only highlight.
    ASSERT_EQ(model->rowCount(), 3);
    int dev1 = -1;
    for (int row = 0; row < model->rowCount(); ++row) {
        EXPECT_EQ(model->isCurrent(row), model->conv(row).id == "dev-9") << row;
        if (model->conv(row).id == "dev-1") dev1 = row;
    }
    ASSERT_GE(dev1, 0);
    EXPECT_EQ(model->data(model->index(dev1), Qt::DisplayRole).toString(), QStringLiteral("<b>R&D</b>"));
    EXPECT_EQ(model->data(model->index(dev1), Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("点这里开始对话 · 99"));
    EXPECT_EQ(model->data(model->index(0), Qt::AccessibleDescriptionRole).toString(), QStringLiteral("点这里开始对话"));

    const QRect row = view->convList()->visualRect(model->index(dev1));
    ASSERT_FALSE(row.isEmpty());
    QTest::mouseClick(view->convList()->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(state->chatCurrent(), "dev-9") << "the row opens once the click is over";
    settle();
    EXPECT_EQ(state->chatCurrent(), "dev-1");
    for (int k = 0; k < model->rowCount(); ++k) EXPECT_EQ(model->isCurrent(k), model->conv(k).id == "dev-1") << k;
    EXPECT_EQ(state->chatConvs()[size_t(dev1)].unread, 0);
    // Clicking the open row opens it again: still no badge.
    QTest::mouseClick(view->convList()->viewport(), Qt::LeftButton, {}, row.center());
    settle();
    EXPECT_EQ(state->chatCurrent(), "dev-1");
}

TEST_F(ChatTest, aRowUnderThePointerLooksLikeAnyOther) {
    state->setChatConvs({conv("all", "全员频道"), conv("dev-1", "小张")});
    state->setChatCurrent("all");
    open();
    QAbstractItemDelegate* delegate = view->convList()->itemDelegate();
    const QModelIndex row = view->convModel()->index(1);
    const auto painted = [&](QStyle::State state) {
        QImage image(ChatView::listWidth, 60, QImage::Format_ARGB32);
        image.fill(Theme::window());
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.state = QStyle::State_Enabled | state;
        delegate->paint(&painter, option, row);
        return image;
    };
    EXPECT_EQ(painted(QStyle::State_MouseOver), painted(QStyle::State_None));
}

TEST_F(ChatTest, anEmptyListKeepsHeaderAndFooter) {
    state->setChatConvs({});
    state->setChatCurrent("");
    open();
    EXPECT_TRUE(view->findChild<QLabel*>(QStringLiteral("chatSelf"))->isVisible());
    bool footer = false;
    for (QLabel* label : view->findChildren<QLabel*>()) {
        footer = footer || (label->text() == QStringLiteral("局域网内直连，不经过任何服务器") && label->isVisible());
    }
    EXPECT_TRUE(footer);
}

TEST_F(ChatTest, openChatRunsOncePerPresentation) {
    state->setChatCurrent("dev-1");
    state->setChatConvs({conv("all", "全员频道"), conv("dev-1", "Mac", 4)});
    QSignalSpy opened(state.get(), &AppState::chatCurrentChanged);
    QWidget window;
    SheetHost host(*state, &window, rootSheetRows(state->environment().feedback));
    window.show();
    state->setShowChat(true);
    settle();
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(state->chatConvs()[1].unread, 0);
    QDialog* chat = host.sheet(QStringLiteral("chatView"));
    ASSERT_NE(chat, nullptr);
    chat->hide();
    chat->show();  // shown again in the same presentation
    settle();
    EXPECT_EQ(opened.count(), 1);

    // Escape closes it; the next opening is a fresh window with a fresh composer.
    auto* input = chat->findChild<ComposerEdit*>(QStringLiteral("chatInput"));
    QTest::keyClicks(input, "draft");
    chat->findChild<QPushButton*>(QStringLiteral("chatBurnToggle"))->click();
    QTest::keyClick(input, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(state->showChat());
    state->setShowChat(true);
    settle();
    QDialog* again = host.sheet(QStringLiteral("chatView"));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(opened.count(), 2);
    EXPECT_TRUE(again->findChild<ComposerEdit*>(QStringLiteral("chatInput"))->toPlainText().isEmpty());
    EXPECT_FALSE(again->findChild<QPushButton*>(QStringLiteral("chatBurnToggle"))->isChecked());
    again->findChild<QPushButton*>(QStringLiteral("chatDone"))->click();
    settle();
    EXPECT_FALSE(state->showChat());
    EXPECT_EQ(host.sheet(QStringLiteral("chatView")), nullptr);
}

TEST_F(ChatTest, headerTitlesAndSubtitles) {
    open();
    EXPECT_EQ(part<QLabel>("chatHeaderTitle")->text(), QStringLiteral("全员频道"));
    EXPECT_EQ(part<QLabel>("chatHeaderSub")->text(), QStringLiteral("办公室所有人 · 0 台设备在线"));
    state->setPeers({viewPeer("dev-1", "<b>R&D</b>"), viewPeer("dev-2", "B")});
    EXPECT_EQ(part<QLabel>("chatHeaderSub")->text(), QStringLiteral("办公室所有人 · 2 台设备在线"));
    state->openChat("dev-1");
    EXPECT_EQ(part<QLabel>("chatHeaderSub")->text(), QString::fromStdString(state->chatConvForCurrent()->sub));
    EXPECT_EQ(part<QLabel>("chatHeaderTitle")->text(), QString::fromStdString(state->chatConvForCurrent()->title));
    state->setChatConvs({});
    EXPECT_EQ(part<QLabel>("chatHeaderTitle")->text(), QStringLiteral("聊天"));
    EXPECT_EQ(part<QLabel>("chatHeaderSub")->text(), QString());
}

TEST_F(ChatTest, sendingTrimsKeepsInnerBreaksAndLeavesBlankDraftsAlone) {
    open();
    auto* send = part<QPushButton>("chatSend");
    pane()->input()->insertPlainText(QStringLiteral("  \n  "));
    EXPECT_FALSE(send->isEnabled());
    QTest::keyClick(pane()->input(), Qt::Key_Return);
    EXPECT_TRUE(current().empty());
    EXPECT_EQ(pane()->input()->toPlainText(), QStringLiteral("  \n  ")) << "a blank draft stays as typed";

    pane()->input()->clear();
    pane()->input()->insertPlainText(QStringLiteral(" 第一行"));
    QTest::keyClick(pane()->input(), Qt::Key_Return, Qt::ShiftModifier);
    type("second ");
    EXPECT_TRUE(send->isEnabled());
    EXPECT_EQ(pane()->input()->shownLines(), 2);
    QTest::keyClick(pane()->input(), Qt::Key_Enter);
    ASSERT_EQ(current().size(), 1u);
    EXPECT_EQ(current()[0].text, "第一行\nsecond");
    EXPECT_TRUE(current()[0].failed) << "no peers: failed at once";
    EXPECT_TRUE(pane()->input()->toPlainText().isEmpty());
    EXPECT_FALSE(send->isEnabled());

    auto* toggle = part<QPushButton>("chatBurnToggle");
    EXPECT_EQ(toggle->text(), QStringLiteral("🔥 焚毁"));
    toggle->click();
    EXPECT_EQ(toggle->text(), QStringLiteral("🔥 阅后即焚"));
    EXPECT_EQ(toggle->toolTip(), QStringLiteral("开启后，对方读到即焚毁"));
    type("secret");
    send->click();
    ASSERT_EQ(current().size(), 2u);
    EXPECT_TRUE(current()[1].burn);
    EXPECT_TRUE(toggle->isChecked()) << "the switch stays on after sending";
    EXPECT_EQ(toggle->text(), QStringLiteral("🔥 阅后即焚"));
}

TEST_F(ChatTest, whatWasTypedOrPastedIsSentAsItCame) {
    // The composer's plain text made a no-break space a space and U+2028, U+2029 and
    // pasted carriage returns line feeds.
    open();
    ComposerEdit* input = pane()->input();
    for (const auto& [how, text] : test::untouchableTexts()) {
        test::enterText(input, text, how);
        QTest::keyClick(input, Qt::Key_Return, Qt::ShiftModifier);
        test::enterText(input, QStringLiteral("!"), how);
        const size_t before = current().size();
        QTest::keyClick(input, Qt::Key_Return);
        ASSERT_EQ(current().size(), before + 1);
        EXPECT_EQ(current().back().text, (text + QStringLiteral("\n!")).toStdString());
    }
}

TEST_F(ChatTest, theComposerGrowsFromOneToFiveLines) {
    open();
    EXPECT_EQ(pane()->input()->shownLines(), 1);
    EXPECT_EQ(pane()->input()->verticalScrollBar()->maximum(), 0) << "one line fits without scrolling";
    const int one = pane()->input()->height();
    for (int k = 0; k < 3; ++k) QTest::keyClick(pane()->input(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(pane()->input()->shownLines(), 4);
    EXPECT_TRUE(test::qtWaitFor([&] { return pane()->input()->verticalScrollBar()->maximum() == 0; }))
        << "four lines fit without scrolling";
    EXPECT_GT(pane()->input()->height(), one);
    for (int k = 0; k < 6; ++k) QTest::keyClick(pane()->input(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(pane()->input()->shownLines(), 5);
}

TEST_F(ChatTest, theComposersTextStartsTenAcrossAndEightDownInItsBox) {
    open();
    ComposerEdit* input = pane()->input();
    QWidget* box = input->parentWidget();
    const QPoint start = input->viewport()->mapTo(box, input->cursorRect(input->textCursor()).topLeft());
    EXPECT_EQ(start.x(), 10);
    EXPECT_EQ(start.y(), 8);
    const int lines = input->fontMetrics().lineSpacing();
    EXPECT_LE(box->height(), 8 + lines + 8 + 2) << "no room beyond the padding";
}

TEST_F(ChatTest, bubblesShowSendersPlaceholdersFailuresAndMarkupLiterally) {
    ChatMsg burned = message("m3", "all", "gone", false);
    burned.burn = burned.burned = true;
    ChatMsg failed = message("m4", "all", "<i>R&D</i> & co", true);
    failed.failed = true;
    ChatMsg unburned = message("m5", "all", "still here");
    unburned.burn = true;
    state->setChatMsgs({{"all", {message("m1", "all", "hello"), message("m2", "all", "mine", true), burned, failed}},
                        {"dev-1", {message("d1", "dev-1", "hello")}}});
    open();
    // Arrives while its conversation is open: it shows its text until the conversation is opened again.
    auto msgs = state->chatMsgs();
    msgs["all"].push_back(unburned);
    state->setChatMsgs(msgs);
    auto visibleTexts = [](QWidget* row) {
        QStringList out;
        for (QLabel* label : row->findChildren<QLabel*>()) {
            if (label->isVisibleTo(row)) out << label->text();
        }
        return out;
    };
    ChatBubble* other = pane()->bubble("m1");
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(visibleTexts(other).contains(QStringLiteral("<b>A&B</b>")));
    EXPECT_EQ(other->body()->accessibleName(), QStringLiteral("hello"));
    EXPECT_FALSE(visibleTexts(pane()->bubble("m2")).contains(QStringLiteral("测试机")));
    ChatBubble* gone = pane()->bubble("m3");
    EXPECT_TRUE(gone->placeholder()->isVisibleTo(gone));
    EXPECT_FALSE(gone->body()->isVisibleTo(gone));
    EXPECT_TRUE(visibleTexts(gone).contains(QStringLiteral("这条消息已阅后即焚")));
    EXPECT_EQ(visibleTexts(gone).count(QStringLiteral("🔥")), 2) << "placeholder and meta line";
    ChatBubble* failing = pane()->bubble("m4");
    EXPECT_EQ(failing->body()->text(), QStringLiteral("<i>R&D</i> & co"));
    EXPECT_TRUE(visibleTexts(failing).contains(QStringLiteral("发送失败")));
    ChatBubble* waiting = pane()->bubble("m5");
    EXPECT_TRUE(waiting->body()->isVisibleTo(waiting)) << "read-once text shows until burned";
    EXPECT_TRUE(visibleTexts(waiting).contains(QStringLiteral("🔥")));
    // Own bubbles sit right, others left.
    EXPECT_GT(pane()->bubble("m2")->body()->geometry().left(), other->body()->geometry().left());

    state->openChat("dev-1");
    settle();
    ChatBubble* direct = pane()->bubble("d1");
    ASSERT_NE(direct, nullptr);
    EXPECT_FALSE(visibleTexts(direct).contains(QStringLiteral("<b>A&B</b>"))) << "no sender in a device conversation";
}

TEST_F(ChatTest, bubblesAreUpdatedInPlaceByMessageId) {
    state->setChatMsgs({{"all", {message("m1", "all", "one"), message("m2", "all", "two", true)}}});
    open();
    ChatBubble* first = pane()->bubble("m1");
    ChatBubble* second = pane()->bubble("m2");
    auto msgs = state->chatMsgs();
    msgs["all"][1].failed = true;
    msgs["all"].push_back(message("m3", "all", "three"));
    state->setChatMsgs(msgs);
    EXPECT_EQ(pane()->bubble("m1"), first);
    EXPECT_EQ(pane()->bubble("m2"), second);
    EXPECT_TRUE(second->msg().failed);
    ASSERT_NE(pane()->bubble("m3"), nullptr);
}

TEST_F(ChatTest, longUnbrokenWordsWrapAndKeepTheFreeSide) {
    const std::string url = "https://example.com/" + test::repeatedText("a1b2c3d4", 60);
    state->setChatMsgs({{"all", {message("m1", "all", url, true)}}});
    open();
    BubbleText* body = pane()->bubble("m1")->body();
    const int row = pane()->bubble("m1")->width();
    EXPECT_LE(body->width(), row - 32 - ChatBubble::freeSide);
    EXPECT_GT(body->height(), 3 * body->fontMetrics().height()) << "the word is broken over several lines";
    body->selectAll();
    EXPECT_EQ(body->selectedText().toStdString(), url);

    // Text a little wider than the column, of mixed scripts: every line it wraps to gets its room.
    for (int extra : {0, 4, 8, 16, 24}) {
        const std::string text = "链接在这里：https://intranet.example.com/share/design/" + test::repeatedText("x", 34 + extra) + "/";
        state->setChatMsgs({{"all", {message("m" + std::to_string(extra), "all", text)}}});
        settle();
        BubbleText* mixed = pane()->bubble("m" + std::to_string(extra))->body();
        EXPECT_GE(mixed->height(), mixed->heightForWidth(mixed->width())) << extra;
    }
}

TEST_F(ChatTest, aBubbleIsMeasuredAgainWhenItsTextOrFontChanges) {
    BubbleText text;
    text.setText(QStringLiteral("短"));
    const int shortWidth = text.sizeHint().width();
    const int oneLine = text.heightForWidth(200);
    text.setText(QStringLiteral("一段比较长的文字，在两百像素宽的气泡里会折成好几行，再多写几个字"));
    EXPECT_GT(text.sizeHint().width(), shortWidth);
    const int lines = text.heightForWidth(200);
    EXPECT_GT(lines, oneLine);
    text.setFont(Theme::font(20));
    EXPECT_GT(text.heightForWidth(200), lines);
}

TEST_F(ChatTest, partsAMessageNeedsLaterStandWhereTheyAlwaysStood) {
    ChatMsg msg = message("m1", "all", "hello");
    state->setChatMsgs({{"all", {msg}}});
    open();
    ChatBubble* row = pane()->bubble("m1");
    msg.burn = msg.burned = msg.failed = true;
    state->setChatMsgs({{"all", {msg}}});
    settle();
    ASSERT_EQ(pane()->bubble("m1"), row);
    // Where each shown label stands in the row; the placeholder's 🔥 is told apart from the meta line's.
    std::map<QString, QRect> at;
    for (QLabel* label : row->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(row)) continue;
        const QString where = label->parentWidget() == row->placeholder() ? QStringLiteral(" (placeholder)") : QString();
        at[label->text() + where] = QRect(label->mapTo(row, QPoint()), label->size());
    }
    // Every label measured must be shown: a missing one would compare as an empty rectangle.
    const QString sender = QStringLiteral("<b>A&B</b>");
    const QString placeholder = QStringLiteral("这条消息已阅后即焚 (placeholder)");
    const QString fire = QStringLiteral("🔥");
    const QString failed = QStringLiteral("发送失败");
    const QString timeText = QString::fromStdString(msg.timeText());
    for (const QString& key : {sender, placeholder, fire, failed, timeText}) {
        ASSERT_TRUE(at.count(key)) << "no shown label " << key.toStdString();
        ASSERT_FALSE(at.at(key).isEmpty()) << key.toStdString();
    }
    const QRect time = at.at(timeText);
    EXPECT_LT(at.at(sender).bottom(), at.at(placeholder).top());
    EXPECT_LT(at.at(placeholder).bottom(), time.top());
    EXPECT_LT(at.at(fire).right(), time.left());
    EXPECT_GT(at.at(failed).left(), time.right());
}

TEST_F(ChatTest, clearingAsksFirstAndOnlyWhenThereIsSomethingToClear) {
    open();
    EXPECT_FALSE(part<QPushButton>("chatClear")->isVisible());
    state->setChatConvs({conv("all", "全员 <b>&</b>")});
    state->sendChat("hi", false);
    auto* clear = part<QPushButton>("chatClear");
    EXPECT_TRUE(clear->isVisible());
    clear->click();
    QMessageBox* alert = pane()->clearAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert->text(), QStringLiteral("清空与「全员 <b>&</b>」的聊天记录？"));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("只清我这边，对方不受影响。"));
    const QList<QAbstractButton*> buttons = alert->buttons();
    ASSERT_EQ(buttons.size(), 2);
    QAbstractButton* confirm = nullptr;
    QAbstractButton* cancel = nullptr;
    for (QAbstractButton* b : buttons) (b->text() == QStringLiteral("清空") ? confirm : cancel) = b;
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(alert->buttonRole(confirm), QMessageBox::DestructiveRole);
    EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
    cancel->click();
    settle();
    EXPECT_EQ(current().size(), 1u);
    EXPECT_EQ(pane()->clearAlert(), nullptr);

    clear->click();
    ASSERT_NE(pane()->clearAlert(), nullptr);
    for (QAbstractButton* b : pane()->clearAlert()->buttons()) {
        if (b->text() == QStringLiteral("清空")) b->click();
    }
    settle();
    EXPECT_TRUE(current().empty());
    EXPECT_FALSE(clear->isVisible());
}

// Keys sent where the keyboard is: to the application's focus widget.
void pressKey(Qt::Key key) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClick(focused, key);
}

TEST_F(ChatTest, theMessageBoxHoldsTheKeyboardWhenTheWindowOpensAndWhenAConversationIsChosen) {
    state->setChatConvs({conv("all", "全员频道"), conv("dev-1", "小张")});
    state->setChatCurrent("all");
    state->sendChat("在吗", false);  // "清空记录" shows and comes first in the header
    QWidget window;
    SheetHost host(*state, &window, rootSheetRows(state->environment().feedback));
    window.show();
    QApplication::setActiveWindow(&window);
    state->setShowChat(true);
    settle();
    QDialog* chat = host.sheet(QStringLiteral("chatView"));
    ASSERT_NE(chat, nullptr);
    QApplication::setActiveWindow(chat);
    ASSERT_TRUE(test::qtWaitFor([&] { return chat->isActiveWindow(); }));
    auto* input = chat->findChild<ComposerEdit*>(QStringLiteral("chatInput"));
    EXPECT_EQ(QApplication::focusWidget(), input) << "the window opens with the keyboard in the message box";
    // Typed at once, with a space in it: all of it lands in the box, and the window stays.
    QTest::keyClicks(QApplication::focusWidget(), "hi there");
    EXPECT_EQ(input->toPlainText(), QStringLiteral("hi there"));
    EXPECT_TRUE(state->showChat());

    // The header's buttons take Tab in their screen order, left to right.
    auto* done = chat->findChild<QPushButton*>(QStringLiteral("chatDone"));
    chat->findChild<QPushButton*>(QStringLiteral("chatClear"))->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), done) << "Tab from 清空记录 goes to 完成";

    // Choosing a conversation gives the box the keyboard back, wherever it was.
    done->setFocus(Qt::TabFocusReason);
    ChatView* view = qobject_cast<ChatView*>(chat);
    const QRect row = view->convList()->visualRect(view->convModel()->index(1));
    QTest::mouseClick(view->convList()->viewport(), Qt::LeftButton, {}, row.center());
    settle();
    EXPECT_EQ(state->chatCurrent(), "dev-1");
    EXPECT_EQ(QApplication::focusWidget(), input);

    // By keyboard alone: Shift+Tab from the box reaches the list (the header's buttons come
    // first), the arrows move, and Return or Enter opens the row reached.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        input->setFocus(Qt::TabFocusReason);
        for (int k = 0; k < 6 && QApplication::focusWidget() != view->convList(); ++k) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        }
        ASSERT_EQ(QApplication::focusWidget(), view->convList()) << "Tab never reached the conversations";
        const std::string before = state->chatCurrent();
        QTest::keyClick(view->convList(), before == "all" ? Qt::Key_Down : Qt::Key_Up);
        QTest::keyClick(view->convList(), key);
        settle();
        EXPECT_EQ(state->chatCurrent(), before == "all" ? "dev-1" : "all");
        EXPECT_EQ(QApplication::focusWidget(), input);
    }

    // Escape still closes the window, as "完成" does.
    pressKey(Qt::Key_Escape);
    settle();
    EXPECT_FALSE(state->showChat());
}

// A new message moved a conversation up while the keys stayed at its old place, so Return
// opened another one; and its one action "打开" came as a menu no one needed.
TEST_F(ChatTest, theKeysFollowTheirConversationAndTheListOffersNoMenu) {
    state->setChatConvs({conv("all", "全员频道"), conv("dev-1", "小张"), conv("dev-2", "小李")});
    state->setChatCurrent("all");
    open();
    auto* list = qobject_cast<RowActionList*>(view->convList());
    ASSERT_NE(list, nullptr);
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentIndex(view->convModel()->index(2));
    state->setChatConvs({conv("dev-2", "小李", 1), conv("all", "全员频道"), conv("dev-1", "小张")});
    settle();
    ASSERT_TRUE(list->currentIndex().isValid());
    EXPECT_EQ(view->convModel()->conv(list->currentIndex().row()).id, "dev-2") << "the keys stayed at the old place";

    const struct {
        const char* how;
        std::function<void()> open;
    } openers[] = {
        {"the Menu key", [&] { QTest::keyClick(list, Qt::Key_Menu); }},
        {"Shift+F10", [&] { QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier); }},
        {"a right click", [&] {
             const QPoint at = list->visualRect(list->currentIndex()).center();
             QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
             QApplication::sendEvent(list->viewport(), &event);
         }},
    };
    for (const auto& opener : openers) {
        opener.open();
        settle();
        EXPECT_EQ(list->openMenu(), nullptr) << opener.how << " opened a menu";
    }
    QTest::keyClick(list, Qt::Key_Return);
    settle();
    EXPECT_EQ(state->chatCurrent(), "dev-2");
}

TEST_F(ChatTest, theClearAlertOpensOnCancelSoOnlyAPressOfClearClears) {
    state->setChatConvs({conv("all", "全员频道")});
    state->setChatCurrent("all");
    state->sendChat("hi", false);
    open();
    // Each way of answering the fresh alert, and whether the history is gone after it.
    const std::pair<const char*, std::function<void()>> answers[] = {
        {"Space", [] { pressKey(Qt::Key_Space); }},
        {"Return", [] { pressKey(Qt::Key_Return); }},
        {"Enter", [] { pressKey(Qt::Key_Enter); }},
        {"Escape", [] { pressKey(Qt::Key_Escape); }},
        {"Tab then Return", [] {
             pressKey(Qt::Key_Tab);
             pressKey(Qt::Key_Return);
         }},
    };
    for (const auto& [how, answer] : answers) {
        part<QPushButton>("chatClear")->click();
        QMessageBox* alert = pane()->clearAlert();
        ASSERT_NE(alert, nullptr) << how;
        QApplication::setActiveWindow(alert);
        ASSERT_TRUE(test::qtWaitFor([&] { return alert->isActiveWindow(); })) << how;
        auto* cancel = qobject_cast<QPushButton*>(alert->focusWidget());
        ASSERT_NE(cancel, nullptr) << how;
        EXPECT_EQ(cancel->text(), QStringLiteral("取消")) << how;
        EXPECT_EQ(alert->defaultButton(), cancel) << how;
        EXPECT_EQ(alert->escapeButton(), cancel) << how;
        EXPECT_EQ(alert->icon(), QMessageBox::NoIcon) << how;
        EXPECT_TRUE(alert->iconPixmap().isNull()) << how;
        QPushButton* clear = nullptr;
        for (QAbstractButton* b : alert->buttons()) {
            if (b->text() == QStringLiteral("清空")) clear = qobject_cast<QPushButton*>(b);
        }
        ASSERT_NE(clear, nullptr) << how;
        EXPECT_EQ(clear->palette().color(QPalette::Active, QPalette::ButtonText), Theme::tint(Tint::red)) << how;
        EXPECT_NE(cancel->palette().color(QPalette::Active, QPalette::ButtonText), Theme::tint(Tint::red)) << how;

        answer();
        settle();
        EXPECT_EQ(pane()->clearAlert(), nullptr) << how << " closed the alert";
        const bool cleared = std::string(how) == "Tab then Return";
        EXPECT_EQ(current().empty(), cleared) << how;
    }
}

TEST_F(ChatTest, theListFollowsItsNewestMessage) {
    std::vector<ChatMsg> many;
    for (int k = 0; k < 40; ++k) many.push_back(message("m" + std::to_string(k), "all", "line " + std::to_string(k)));
    state->setChatMsgs({{"all", many}, {"dev-1", many}});
    open();
    QScrollBar* bar = pane()->messages()->verticalScrollBar();
    ASSERT_TRUE(test::qtWaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }))
        << bar->value() << " of " << bar->maximum();
    bar->setValue(0);
    state->sendChat("newest", false);
    EXPECT_TRUE(test::qtWaitFor([&] { return bar->value() == bar->maximum(); })) << bar->value() << " of " << bar->maximum();
    bar->setValue(0);
    state->openChat("dev-1");
    EXPECT_TRUE(test::qtWaitFor([&] { return bar->value() == bar->maximum() && bar->maximum() > 0; }));
}

TEST_F(ChatTest, noScrollFiresAfterTheWindowClosed) {
    state->setChatMsgs({{"all", {message("m1", "all", "one")}}});
    open();
    state->sendChat("two", false);  // schedules a scroll
    view.reset();                    // the window goes before the loop runs again
    settle();
    SUCCEED();
}

// The history could not be read by keys: the pane was no Tab stop, no key scrolled it, and
// a reader met only the bubbles on screen. Each step presses a key where the keys are and
// names the message they reach (by its number; -1: out of the pane, to the named control).
TEST_F(ChatTest, theHistoryIsOneTabStopWalkedByKeysAndEachMessageIsReadWithSenderAndTime) {
    std::vector<ChatMsg> history;
    for (int k = 0; k < 300; ++k) {
        history.push_back(message("m" + std::to_string(k), "all", "第 " + std::to_string(k) + " 条", k % 7 == 0));
        history.back().ts += k * 60'000.0;
    }
    state->setChatConvs({conv("all", "全员频道")});
    state->setChatMsgs({{"all", history}});
    state->setChatCurrent("all");
    open();
    QApplication::setActiveWindow(view.get());
    ASSERT_TRUE(test::qtWaitFor([&] { return view->isActiveWindow(); }));
    QScrollArea* pane = this->pane()->messages();
    const auto bubbleOf = [&](int k) { return this->pane()->bubble("m" + std::to_string(k)); };
    const auto onScreen = [&](QWidget* row) {
        const QRect shown(row->mapTo(pane->viewport(), QPoint(0, 0)), row->size());
        return pane->viewport()->rect().intersects(shown);
    };
    const auto at = [&] {
        for (int k = 0; k < 300; ++k) {
            if (QApplication::focusWidget() == bubbleOf(k)) return k;
        }
        return -1;
    };
    this->pane()->input()->setFocus(Qt::TabFocusReason);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int reached;  // the message; -1: the control named
        const char* control;
    } steps[] = {
        {Qt::Key_Backtab, Qt::ShiftModifier, -1, "chatBurnToggle"},
        {Qt::Key_Backtab, Qt::ShiftModifier, 299, ""},  // into the pane: the newest
        {Qt::Key_Up, {}, 298, ""},
        {Qt::Key_Up, {}, 297, ""},
        {Qt::Key_Down, {}, 298, ""},
        {Qt::Key_Home, {}, 0, ""},
        {Qt::Key_Up, {}, 0, ""},
        {Qt::Key_Down, {}, 1, ""},
        {Qt::Key_End, Qt::ControlModifier, 299, ""},
        {Qt::Key_Down, {}, 299, ""},
        {Qt::Key_Backtab, Qt::ShiftModifier, -1, "chatDone"},
        {Qt::Key_Tab, {}, 299, ""},  // back where the keys left
        {Qt::Key_Home, Qt::ControlModifier, 0, ""},
        {Qt::Key_Tab, {}, -1, "chatBurnToggle"},
        {Qt::Key_Backtab, Qt::ShiftModifier, 0, ""},
    };
    for (const auto& step : steps) {
        const int from = at();
        QTest::keyClick(QApplication::focusWidget(), step.key, step.modifiers);
        const std::string what = std::to_string(from) + " then key " + std::to_string(step.key);
        if (step.reached < 0) {
            ASSERT_NE(QApplication::focusWidget(), nullptr) << what;
            EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromUtf8(step.control)) << what;
            continue;
        }
        EXPECT_EQ(at(), step.reached) << what;
        ChatBubble* row = bubbleOf(step.reached);
        EXPECT_TRUE(onScreen(row)) << what << ": the message the keys are on is off screen";
        QAccessibleInterface* item = QAccessible::queryAccessibleInterface(row);
        EXPECT_EQ(item->role(), QAccessible::ListItem) << what;
        EXPECT_EQ(item->parent()->role(), QAccessible::List) << what;
        EXPECT_EQ(item->text(QAccessible::Name), QString::fromStdString(history[size_t(step.reached)].text)) << what;
        const QString sender = step.reached % 7 == 0 ? QStringLiteral("我") : QStringLiteral("<b>A&B</b>");
        EXPECT_EQ(item->text(QAccessible::Description),
                  sender + QStringLiteral(" · ") + QString::fromStdString(history[size_t(step.reached)].timeText()))
            << what;
        EXPECT_TRUE(item->state().focused) << what;
    }
    // Page Down and Page Up go by what the pane shows, the message reached on screen.
    for (const Qt::Key key : {Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageUp}) {
        const int from = at();
        const int scrolled = pane->verticalScrollBar()->value();
        QTest::keyClick(QApplication::focusWidget(), key);
        const int step = key == Qt::Key_PageDown ? 1 : -1;
        EXPECT_GT((at() - from) * step, 2) << "from " << from << " to " << at();
        EXPECT_GT((pane->verticalScrollBar()->value() - scrolled) * step, pane->viewport()->height() / 2);
        ASSERT_GE(at(), 0);
        EXPECT_TRUE(onScreen(bubbleOf(at()))) << at();
    }
    // Messages come and go while the keys read the history: when their own message leaves,
    // the first one shown takes them; a new one arriving leaves them on their message, on
    // screen, and the pane is not pulled to the newest.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
    ASSERT_EQ(at(), 0);
    state->setChatMsgs({{"all", std::vector<ChatMsg>(history.begin() + 10, history.end())}});
    settle();
    EXPECT_EQ(at(), 10) << "the keys were lost with their message";
    EXPECT_TRUE(onScreen(bubbleOf(10)));
    for (int k = 0; k < 3; ++k) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    ASSERT_EQ(at(), 13);
    state->appendChat("all", message("m300", "all", "第 300 条"), false);
    test::qtSpin(std::chrono::milliseconds(100));  // the pane's scroll after a new message is done by then
    EXPECT_EQ(at(), 13) << "a new message took the keys";
    EXPECT_TRUE(onScreen(bubbleOf(13))) << "the pane was pulled to the newest";
}

}  // namespace
}  // namespace corvane
