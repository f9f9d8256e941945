// The shipped openers hand files, folders and addresses to xdg-open (here a
// recorder first on PATH); reveal without a file manager on the session bus
// opens the item's folder.
#include <cstdlib>
#include <fstream>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>

#include <gtest/gtest.h>

#include "support/qt_wait.h"
#include "support/test_support.h"
#include "views/desktop_services.h"

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

}  // namespace
}  // namespace corvane
