// The team panel's set-up form and logo, the address card with its QR code, and the
// administrator's password.
#include <atomic>
#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QTimer>

#include <nlohmann/json.hpp>

#include "team_panel_fixture.h"
#include "views/team/panel_parts.h"
#include "views/team/qr_code.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

// A small PNG padded with zeros to exactly `size` bytes (a decoder stops at its end).
std::string pngOfSize(size_t size, QColor color = Qt::blue) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    std::string out = bytes.toStdString();
    out.resize(size, '\0');
    return out;
}

TEST_F(TeamPanelTest, setUpRefusesBeforeTheStoreAndThenCreatesTheTeamWithItsLogo) {
    TeamPanel& p = open();
    EXPECT_EQ(p.windowTitle(), q("团队空间"));
    EXPECT_EQ(text("teamTitleField"), q("desk 的团队"));
    EXPECT_EQ(text("teamAdminField"), q("群主"));
    EXPECT_EQ(text("teamSubtitle"), q("把本机变成工作室的中央存储"));
    EXPECT_EQ(p.focusWidget(), find("teamTitleField")) << "the form opens typing in its first field";
    EXPECT_EQ(find<LogoBadge>("teamSetupBadge")->letter(), q("D"));
    type("teamTitleField", "");
    EXPECT_EQ(find<LogoBadge>("teamSetupBadge")->letter(), q("团"));
    type("teamTitleField", "tovar");
    EXPECT_EQ(find<LogoBadge>("teamSetupBadge")->letter(), q("T"));

    // Logo edge cases: the limit itself passes, one byte more and an unreadable file do not.
    struct Case {
        std::string name;
        std::optional<std::string> bytes;  // none: a folder in its place
        std::string toast;                 // "" when taken
    };
    const std::string atLimit = pngOfSize(1500000);
    const std::vector<Case> cases{
        {"over.png", pngOfSize(1500001), "图片太大了（限 1.5MB）"},
        {"folder.png", std::nullopt, "读不出这张图片"},
        {"limit.png", atLimit, ""},
        {"over2.png", pngOfSize(1500001, Qt::red), "图片太大了（限 1.5MB）"},
    };
    for (const Case& c : cases) {
        const fs::path file = box / c.name;
        if (c.bytes) writeFile(file, *c.bytes);
        else fs::create_directories(file);
        nextImage = file;
        state->setToast(std::nullopt);
        press("teamPickLogo");
        EXPECT_EQ(state->toast().value_or(""), c.toast) << c.name;
        if (c.toast.empty()) {
            EXPECT_TRUE(find<LogoBadge>("teamSetupBadge")->showsLogo()) << c.name;
        }
    }
    EXPECT_EQ(imageQuestions.back(), "选一张图片作为团队 Logo");
    EXPECT_TRUE(shown("teamDropLogo"));
    EXPECT_TRUE(find<LogoBadge>("teamSetupBadge")->showsLogo()) << "the refused pick after it kept the earlier one";
    EXPECT_TRUE(shown("teamToast"));
    EXPECT_EQ(text("teamToast"), q("图片太大了（限 1.5MB）"));

    // Differing passwords never reach the store; a short one is refused by the operation.
    type("teamPassField", "123456");
    type("teamPass2Field", "123457");
    press("teamEnable");
    EXPECT_EQ(text("teamSetupError"), q("两次输入的密码不一样"));
    EXPECT_TRUE(shown("teamSetupError"));
    type("teamPassField", "12345");
    type("teamPass2Field", "12345");
    press("teamEnable");
    ASSERT_TRUE(qtWaitFor([&] { return text("teamSetupError") == q("密码至少 6 位"); }));
    EXPECT_FALSE(store->hasAdmin());
    EXPECT_TRUE(find<QPushButton>("teamEnable")->isEnabled());

    // Success: the derivation runs while the window keeps turning. It waits for ten turns
    // of the window, which come only when it runs off the window's thread.
    type("teamTitleField", " Studio ");
    type("teamPassField", "abcdef");
    type("teamPass2Field", "abcdef");
    std::atomic<int> ticks{0};
    std::atomic<bool> turnedWhileDeriving{false};
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    whileDeriving = [&] {
        const auto due = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ticks < 10 && std::chrono::steady_clock::now() < due) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        turnedWhileDeriving = ticks >= 10;
    };
    find("teamEnable")->setFocus(Qt::TabFocusReason);  // pressed from the keys
    press("teamEnable");
    EXPECT_FALSE(find<QPushButton>("teamEnable")->isEnabled());
    EXPECT_EQ(text("teamEnable"), q("启用中…"));
    EXPECT_EQ(p.focusWidget(), &p) << "the disabled button left the keys to the panel, not to 完成";
    find("teamTitleField")->setFocus(Qt::TabFocusReason);  // the form is typed in meanwhile
    ASSERT_TRUE(qtWaitFor([&] { return state->teamReady(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(turnedWhileDeriving) << "the window turned while the password was derived";
    whileDeriving = nullptr;
    settle();
    EXPECT_NE(find("teamAddress"), nullptr);
    EXPECT_EQ(find("teamEnable"), nullptr);
    EXPECT_EQ(p.focusWidget(), &p) << "the keys left with the form for "
                                   << (p.focusWidget() ? p.focusWidget()->objectName().toStdString() : "nothing");

    const nlohmann::json accounts = nlohmann::json::parse(readFile(state->root() / "_team" / "accounts.json"));
    const std::string dump = accounts.dump();
    EXPECT_NE(dump.find("\"admin\""), std::string::npos) << dump;
    EXPECT_NE(dump.find("群主"), std::string::npos) << dump;
    for (const char* folder : {"_team", "_shared", "_users"}) EXPECT_TRUE(fs::is_directory(state->root() / folder)) << folder;
    EXPECT_EQ(readFile(state->root() / "_team" / "logo.img"), atLimit) << "stored byte for byte";
    EXPECT_EQ(state->teamName(), "Studio");
    EXPECT_TRUE(find<LogoBadge>("teamBadge")->showsLogo());
    EXPECT_EQ(text("teamSubtitle"), q("1 位成员 · 共用这台机器的存储"));
}

TEST_F(TeamPanelTest, aSetUpAnsweringAfterThePanelClosedIsDropped) {
    open();
    type("teamPassField", "abcdef");
    type("teamPass2Field", "abcdef");
    press("teamEnable");
    panel.reset();
    ASSERT_TRUE(qtWaitFor([&] { return state->teamReady(); })) << "the store work still finishes";
    settle();
}

TEST_F(TeamPanelTest, identityRenamesOneToThirtyCharactersAndHandsOutTheAddress) {
    makeTeam();
    TeamPanel& p = open();
    EXPECT_EQ(text("teamName"), q("Studio"));
    EXPECT_EQ(text("teamLogoButton"), q("上传 Logo"));
    EXPECT_FALSE(shown("teamLogoRemove"));

    press("teamRename");
    EXPECT_TRUE(shown("teamNameField"));
    EXPECT_EQ(text("teamNameField"), q("Studio"));
    struct Case {
        QString typed;
        bool saved;
    };
    const QString thirty = QString::fromStdString(repeatedText("团", 30));
    for (const Case& c : std::vector<Case>{{q("   "), false}, {thirty + q("队"), false}, {thirty, true}}) {
        state->setToast(std::nullopt);
        type("teamNameField", c.typed);
        press("teamNameSave");
        EXPECT_EQ(shown("teamNameField"), !c.saved) << c.typed.toStdString();
        EXPECT_EQ(state->toast().has_value(), !c.saved) << c.typed.toStdString();
        if (!c.saved) {
            EXPECT_EQ(state->toast().value_or(""), "团队名称 1-30 个字");
            EXPECT_EQ(text("teamNameField"), c.typed) << "the editor keeps what was typed";
        }
    }
    EXPECT_EQ(state->teamName(), thirty.toStdString());

    // Return in the editor saves and does not reach "完成".
    press("teamRename");
    type("teamNameField", q("设计部"));
    QTest::keyClick(find<QLineEdit>("teamNameField"), Qt::Key_Return);
    settle();
    EXPECT_EQ(state->teamName(), "设计部");
    EXPECT_TRUE(p.isVisible());
    EXPECT_EQ(p.result(), 0);
    press("teamRename");
    type("teamNameField", q("别的"));
    press("teamNameCancel");
    EXPECT_EQ(state->teamName(), "设计部");
    EXPECT_EQ(text("teamName"), q("设计部"));

    // The address without an IPv4 address, to the clipboard and the browser exactly.
    const std::string address = "http://127.0.0.1:8899/";
    EXPECT_EQ(state->teamAddress(), address);
    EXPECT_EQ(text("teamAddress").toStdString(), address);
    press("teamCopy");
    EXPECT_EQ(text("teamCopy"), q("已复制"));
    qtSpin(std::chrono::milliseconds(800));
    press("teamCopy");
    qtSpin(std::chrono::milliseconds(1000));  // 1.8 s after the first press, 1.0 s after the second
    EXPECT_EQ(text("teamCopy"), q("复制地址")) << "the first press's reset is not put off";
    press("teamOpen");
    EXPECT_EQ(clipboard, (std::vector<std::string>{address, address}));
    EXPECT_EQ(openedURLs, std::vector<std::string>{address});
    EXPECT_EQ(find("teamQR")->accessibleName().toStdString(), address);
}

TEST_F(TeamPanelTest, theQRCodeReadsBackAsTheAddress) {
    if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("command -v zbarimg >/dev/null")}) != 0) {
        GTEST_SKIP() << "zbarimg (zbar-tools) is missing";
    }
    makeTeam();
    for (const std::vector<std::string>& ips : {std::vector<std::string>{}, std::vector<std::string>{"192.168.31.204"}}) {
        state->setLocalIPs(ips);
        open();
        auto* qr = find<QRView>("teamQR");
        ASSERT_NE(qr, nullptr);
        ASSERT_TRUE(qr->isVisible());
        EXPECT_EQ(qr->size(), QSize(104, 104));
        const QString png = QString::fromStdString((box / "qr.png").string());
        ASSERT_TRUE(qr->grab().save(png, "PNG"));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), png});
        ASSERT_TRUE(zbar.waitForFinished(10000));
        EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed().toStdString(), state->teamAddress());
        panel.reset();
        settle();
    }
    EXPECT_EQ(state->teamAddress(), "http://192.168.31.204:8899/");
    EXPECT_TRUE(qrImage(std::string(4000, 'x'), 92).isNull()) << "too long for any code";
}

TEST_F(TeamPanelTest, logoIsStoredAtOnceAfterSetUpAndRemovedWithItsButton) {
    makeTeam();
    open();
    const std::string logo = pngOfSize(5000);
    writeFile(box / "logo.png", logo);
    nextImage = box / "logo.png";
    press("teamLogoButton");
    EXPECT_EQ(readFile(state->root() / "_team" / "logo.img"), logo);
    EXPECT_EQ(text("teamLogoButton"), q("更换 Logo"));
    EXPECT_TRUE(shown("teamLogoRemove"));
    press("teamLogoRemove");
    EXPECT_FALSE(fs::exists(state->root() / "_team" / "logo.img"));
    EXPECT_EQ(text("teamLogoButton"), q("上传 Logo"));
    EXPECT_FALSE(shown("teamLogoRemove"));
    nextImage.reset();
    press("teamLogoButton");  // cancelled: nothing changes
    EXPECT_FALSE(fs::exists(state->root() / "_team" / "logo.img"));

    // Escape does nothing; Return presses "完成".
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_TRUE(panel->isVisible());
    QTest::keyClick(panel.get(), Qt::Key_Return);
    EXPECT_EQ(panel->result(), int(QDialog::Accepted));
}

TEST_F(TeamPanelTest, passwordChangeWaitsForBothFieldsAndKeepsSessions) {
    makeTeam();
    const LoginResult session = store->login("admin", "123456");
    ASSERT_EQ(session.kind, LoginResult::Kind::ok);
    open();
    auto* change = find<QPushButton>("teamPassChange");
    EXPECT_FALSE(change->isEnabled());
    type("teamOldPass", "123456");
    EXPECT_FALSE(change->isEnabled());
    struct Case {
        const char* oldPass;
        const char* newPass;
        const char* message;
        bool cleared;
    };
    for (const Case& c : {Case{"wrong1", "abcdef", "原密码不对", false}, Case{"123456", "abc", "新密码至少 6 位", false},
                          Case{"123456", "abcdef", "已修改", true}}) {
        type("teamOldPass", q(c.oldPass));
        type("teamNewPass", q(c.newPass));
        press("teamPassChange");
        EXPECT_FALSE(change->isEnabled()) << "disabled while the change runs";
        ASSERT_TRUE(qtWaitFor([&] { return text("teamPassMsg") == q(c.message); })) << c.message;
        EXPECT_EQ(text("teamOldPass").isEmpty(), c.cleared) << c.message;
        EXPECT_EQ(text("teamNewPass").isEmpty(), c.cleared) << c.message;
    }
    EXPECT_EQ(store->login("admin", "abcdef").kind, LoginResult::Kind::ok);
    EXPECT_TRUE(store->userForToken(session.token).has_value()) << "an existing session stays valid";
}

}  // namespace
}  // namespace corvane::test
