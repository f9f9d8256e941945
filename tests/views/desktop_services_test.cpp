// The shipped openers hand files, folders and addresses to xdg-open (here a
// recorder first on PATH); reveal without a file manager on the session bus
// opens the item's folder.
#include <cstdlib>
#include <fstream>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "support/qt_wait.h"
#include "support/test_support.h"
#include "views/desktop_services.h"
#include "views/text_prompt.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class DesktopServices : public testing::Test {
protected:
    DesktopServices() : oldPath(std::getenv("PATH") ? std::getenv("PATH") : "") {
        fs::create_directories(box / "bin");
        const fs::path recorder = box / "bin" / "xdg-open";
        std::ofstream(recorder) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << (box / "opened.log").string() << "'\n";
        fs::permissions(recorder, fs::perms::owner_all);
        setenv("PATH", ((box / "bin").string() + ":" + oldPath).c_str(), 1);
    }
    ~DesktopServices() override { setenv("PATH", oldPath.c_str(), 1); }

    std::vector<std::string> opened(size_t count) {
        test::qtWaitFor([&] { return lines().size() >= count; }, std::chrono::seconds(10));
        return lines();
    }

    // The recorder's complete lines: one still being written is not counted yet.
    std::vector<std::string> lines() {
        const std::string text = test::readFile(box / "opened.log");
        std::vector<std::string> out;
        for (size_t at = 0, end = 0; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            out.push_back(text.substr(at, end - at));
        }
        return out;
    }

    test::Sandbox box;
    std::string oldPath;
};

TEST_F(DesktopServices, filesFoldersAndAddressesGoToXdgOpenAsGiven) {
    EXPECT_TRUE(openURLWithDesktop("http://192.168.1.20:8899/"));
    ASSERT_EQ(opened(1).size(), 1u);
    EXPECT_TRUE(openWithDesktop(box / "收到的 文件.txt"));
    const std::vector<std::string> all = opened(2);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], "http://192.168.1.20:8899/");
    EXPECT_EQ(all[1], (box / "收到的 文件.txt").string());
}

TEST_F(DesktopServices, revealWithoutAFileManagerOpensTheFolder) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");  // no session bus: nobody offers ShowItems
    revealWithDesktop(box / "sub" / "a.txt");
    EXPECT_EQ(opened(1), std::vector<std::string>{(box / "sub").string()});
}

TEST_F(DesktopServices, withoutXdgOpenNothingStarts) {
    setenv("PATH", (box / "none").string().c_str(), 1);
    EXPECT_FALSE(openURLWithDesktop("http://127.0.0.1:8899/web"));
    EXPECT_FALSE(openWithDesktop(box.path()));
}

TEST(DesktopQuestions, theFolderQuestionAsksOverTheMainWindowNotOverTheSheetThatAsked) {
    QWidget main;
    auto* sheet = new QDialog(&main);
    auto* inner = new QDialog(sheet);
    EXPECT_EQ(rootWindowOf(inner), &main);
    EXPECT_EQ(rootWindowOf(sheet), &main);
    EXPECT_EQ(rootWindowOf(&main), &main);
    EXPECT_EQ(rootWindowOf(nullptr), nullptr);

    main.show();
    sheet->show();
    QApplication::setActiveWindow(sheet);
    std::vector<std::optional<fs::path>> answers;
    chooseFolderWithDialog({"迁移到此处", "选择新的存储目录"}, [&](std::optional<fs::path> chosen) { answers.push_back(chosen); });
    auto* question = main.findChild<QFileDialog*>();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->parentWidget(), &main);
    EXPECT_EQ(sheet->findChild<QFileDialog*>(), nullptr);
    question->reject();
    EXPECT_EQ(answers, std::vector<std::optional<fs::path>>{std::nullopt});
}

TEST(DesktopQuestions, aTextQuestionHasItsTitleAndASmallerInformativeLineUnderTheMessage) {
    const TextQuestion question{.title = "重命名",
                                .message = "给这台设备起个名字",
                                .informative = "对方原名：<b>DESKTOP-7</b>\n只改你这边显示，不影响对方。留空恢复原名。",
                                .confirm = "保存",
                                .cancel = "取消",
                                .text = "前台",
                                .placeholder = "<b>DESKTOP-7</b>"};
    std::vector<std::optional<std::string>> answers;
    const auto ask = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the one answered before
        askTextWithDialog(question, [&](std::optional<std::string> typed) { answers.push_back(typed); });
        test::qtSpin(std::chrono::milliseconds(5));
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* prompt = qobject_cast<TextPrompt*>(window); prompt && prompt->isVisible()) return prompt;
        }
        return static_cast<TextPrompt*>(nullptr);
    };
    TextPrompt* prompt = ask();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->windowTitle(), QStringLiteral("重命名"));
    auto* message = prompt->findChild<QLabel*>(QStringLiteral("textPromptMessage"));
    auto* informative = prompt->findChild<QLabel*>(QStringLiteral("textPromptInformative"));
    ASSERT_TRUE(message && informative);
    EXPECT_EQ(message->text(), QStringLiteral("给这台设备起个名字"));
    EXPECT_EQ(informative->text(), QString::fromStdString(question.informative)) << "data stays as it is";
    EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    EXPECT_LT(QFontInfo(informative->font()).pixelSize(), QFontInfo(message->font()).pixelSize());
    EXPECT_GT(informative->y(), message->y());
    QLineEdit* field = prompt->field();
    EXPECT_EQ(field->text(), QStringLiteral("前台"));
    EXPECT_TRUE(field->hasFocus());

    field->setText(QStringLiteral(" 新名字 "));
    QTest::keyClick(field, Qt::Key_Return);
    test::qtSpin(std::chrono::milliseconds(5));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], std::optional<std::string>(" 新名字 ")) << "as typed";

    prompt = ask();
    ASSERT_NE(prompt, nullptr);
    QTest::keyClick(prompt->field(), Qt::Key_Escape);
    test::qtSpin(std::chrono::milliseconds(5));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], std::nullopt) << "Escape cancels";
}

}  // namespace
}  // namespace corvane
