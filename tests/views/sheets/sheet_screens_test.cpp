// The pictures of the sheets in docs/screens/, made from fixture states by
// scripts/screens.sh (CORVANE_SCREENS names the folder; without it the test is skipped).
#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <nlohmann/json.hpp>

#include "support/scripted_http_server.h"
#include "updater/updater.h"
#include "views/sheets/burn_sheet.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/fake_feedback_submitter.h"
#include "views/sheets/feedback_sheet.h"
#include "views/sheets/pin_sheet.h"
#include "views/sheets/settings_sheet.h"
#include "views/sheets/sheets_fixture.h"
#include "views/sheets/text_sheet.h"
#include "views/sheets/update_block.h"
#include "views/sheets/welcome_sheet.h"
#include "views/text_prompt.h"

namespace corvane::test {
namespace {

// A screen taller than any sheet: the sheet shows whole.
constexpr int kTallScreen = 2000;

class PhaseUpdater : public Updater {
public:
    using Updater::Updater;
    using Updater::setPhase;
};

class SheetScreens : public SheetsTest {
protected:
    void SetUp() override {
        const char* folder = std::getenv("CORVANE_SCREENS");
        if (!folder || !*folder) GTEST_SKIP() << "CORVANE_SCREENS names no folder";
        out = QString::fromLocal8Bit(folder);
        QDir().mkpath(out);
        // The storage folder a user of this machine would have, not the sandbox's
        // temporary one (a stored folder that is not there is taken as it is).
        writeFile(box / "support" / "config.json", nlohmann::json{{"storageDir", "/home/lin/Corvane"}}.dump());
        state = std::make_unique<AppState>(state->environment());
        state->setShowWelcome(false);
        state->setDeviceName("工作站");
        state->setLocalIPs({"192.168.1.5"});
        state->setPort(8899);
        state->setDiscoveryEnabled(true);
    }

    void save(QWidget& widget, const char* name) {
        widget.show();
        settle();
        qtSpin(std::chrono::milliseconds(30));
        const QString path = out + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
        EXPECT_TRUE(widget.grab().save(path, "PNG")) << path.toStdString();
        std::printf("screens: %s\n", path.toStdString().c_str());
        widget.hide();
    }

    std::vector<Peer> threePeers() const {
        Peer win = viewPeer("p2", "小张的 Windows", "", "192.168.1.31");
        win.plat = "win32";
        Peer nas = viewPeer("p3", "机房 NAS", "", "192.168.1.40", 8900);
        nas.plat = "linux";
        return {viewPeer("p1", "剪辑主机", "", "192.168.1.20"), win, nas};
    }

    Updater::Options updaterOptions(const std::string& manifestURL) {
        Updater::Options o;
        o.version = "1.0.0";
        o.logFolder = box / "logs";
        o.builtInManifestURL = manifestURL;
        return o;
    }

    QString out;
};

TEST_F(SheetScreens, everySheetInItsMainStates) {
    Peer peer = viewPeer("p1", "剪辑主机");
    peer.pin = true;
    {
        PINSheet pin(*state, peer, nullptr);
        state->setPinInput("2468");
        save(pin, "sheet-pin");
    }

    state->setPeers({viewPeer("p1", "剪辑主机", "", "192.168.1.20")});
    state->setTextInput("会议纪要放在共享盘里了\n记得下午三点前看完");
    state->setTextTargets({"p1"});
    {
        TextSheet text(*state, nullptr);
        save(text, "sheet-text");
    }
    {
        // Tab from the last link onto the first recipient row, so the row shows its focus ring.
        TextSheet text(*state, nullptr);
        text.show();
        QApplication::setActiveWindow(&text);
        ASSERT_TRUE(qtWaitFor([&] { return text.isActiveWindow(); }));
        child<QPushButton>(text, "textOnlyLocal")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        save(text, "sheet-text-focus");
    }
    state->setPeers(threePeers());
    state->setBurnMode(true);
    state->setTextInput("Wi-Fi 密码：corvane-2024\n只给你看一次");
    state->setTextTargets({"p1", "p2", "p3"});
    {
        TextSheet text(*state, nullptr);
        save(text, "sheet-text-read-once");
    }

    {
        BurnSheet burn(*state,
                       {.id = "n1", .text = "Wi-Fi 密码：corvane-2024\n只给你看一次", .from = "剪辑主机", .at = {}},
                       nullptr);
        save(burn, "sheet-burn");
    }

    state->setDiagRunning(true);
    {
        DiagSheet diag(*state, nullptr);
        save(diag, "sheet-diag-running");
    }
    state->setDiagRunning(false);
    state->setDiagLines(
        {DiagLine::make(DiagLine::Level::ok, "本机地址 192.168.1.5（eth0）"),
         DiagLine::make(DiagLine::Level::ok, "网关 192.168.1.1 可达"),
         DiagLine::make(DiagLine::Level::warn, "30 秒内没有收到其他设备的广播",
                        std::string("可能开启了「AP 隔离」：换到同一个有线网络，或在下方手动添加对方的 IP。")),
         DiagLine::make(DiagLine::Level::bad, "本机服务端口 8899 未能监听",
                        std::string("可能被其他程序占用：退出占用的程序后重启 Corvane。"))});
    state->setManualPeers({"192.168.2.14:8899", "10.0.0.8:8900"});
    {
        DiagSheet diag(*state, nullptr);
        save(diag, "sheet-diag-results");
    }

    ScriptedHTTPServer manifest;
    manifest.setReply({.status = 200,
                       .contentType = "application/json",
                       .body = nlohmann::json{{"latest", "1.2.0"}, {"notes", {"传输更快", "修复偶发的断点续传失败"}}}.dump()});
    PhaseUpdater updater(updaterOptions(manifest.base() + "update.json"));
    state->setPeers({});
    {
        SettingsSheet settings(*state, updater, nullptr, kTallScreen);
        save(settings, "sheet-settings-p2p");
    }
    ASSERT_TRUE(state->addManualPeer("192.168.1.20"));
    state->setPeers(threePeers());
    state->setNas(true);
    state->setTeamName("研发部");
    state->setPeers(threePeers());
    state->setToast(std::nullopt);
    updater.check(false);
    ASSERT_TRUE(qtWaitFor([&] { return updater.phase().kind == UpdatePhase::Kind::available; }));
    {
        SettingsSheet settings(*state, updater, nullptr, kTallScreen);
        save(settings, "sheet-settings-team");
    }
    {
        // On a 768 px screen the content scrolls and "完成" stays in view.
        SettingsSheet settings(*state, updater, nullptr, 768);
        save(settings, "sheet-settings-768");
    }

    const std::pair<UpdatePhase, const char*> phases[] = {
        {UpdatePhase::idle(), "update-idle"},
        {UpdatePhase::of(UpdatePhase::Kind::checking), "update-checking"},
        {UpdatePhase::of(UpdatePhase::Kind::latest), "update-latest"},
        {UpdatePhase::of(UpdatePhase::Kind::available), "update-available"},
        {UpdatePhase::downloading(0.426), "update-downloading"},
        {UpdatePhase::of(UpdatePhase::Kind::installing), "update-installing"},
        {UpdatePhase::failed("下载中断：未能连接到服务器。"), "update-failed"},
    };
    for (const auto& [phase, name] : phases) {
        updater.setPhase(phase);
        QWidget frame;
        frame.setFixedWidth(480);
        Theme::setBackground(&frame, Theme::window());
        auto* layout = new QVBoxLayout(&frame);
        layout->setContentsMargins(20, 14, 20, 14);
        layout->addWidget(new UpdateBlock(*state, updater, &frame));
        save(frame, name);
    }
}

TEST_F(SheetScreens, theWelcomeAndTheFeedbackSheet) {
    {
        WelcomeSheet welcome(*state, nullptr);
        save(welcome, "sheet-welcome");
    }

    auto fake = std::make_shared<FakeSubmitter>();
    // Types a text, sends it and waits until the sheet shows what the test wants to see.
    const auto sent = [&](FeedbackSheet& sheet, const std::function<bool()>& shown) {
        sheet.show();
        sheet.findChild<QPlainTextEdit*>(QStringLiteral("feedbackText"))
            ->setPlainText(q("拖一个很大的文件夹进来的时候，进度条一直停在 0%，过了好久才开始动。"));
        sheet.findChild<QLineEdit*>(QStringLiteral("feedbackContact"))->setText(q("wx: corvane-fan"));
        sheet.send();
        ASSERT_TRUE(qtWaitFor(shown));
    };
    fake->answer(Refusal{"提交失败（HTTP 502）"}, std::chrono::milliseconds(10));
    {
        FeedbackSheet sheet(fake, nullptr);
        sent(sheet, [&] { return sheet.findChild<QLabel*>(QStringLiteral("feedbackMsg"))->isVisible(); });
        save(sheet, "sheet-feedback-message");
    }
    fake->answer(Outcome(), std::chrono::milliseconds(600));
    {
        FeedbackSheet sheet(fake, nullptr);
        sent(sheet, [] { return true; });
        save(sheet, "sheet-feedback-sending");
        qtWaitFor([&] { return fake->finished() == 2; });
    }
    fake->answer(Outcome(), std::chrono::milliseconds(10));
    {
        FeedbackSheet sheet(fake, nullptr);
        sent(sheet, [&] { return sheet.findChild<QWidget*>(QStringLiteral("feedbackThanks"))->isVisible(); });
        save(sheet, "sheet-feedback-thanks");
    }
}

TEST_F(SheetScreens, theAliasPrompt) {
    Peer peer = viewPeer("p2", "前台电脑", "", "192.168.1.31");
    peer.realName = "DESKTOP-7";
    state->promptAlias(peer);
    ASSERT_FALSE(asked.empty());
    TextPrompt prompt(asked.back(), nullptr);
    save(prompt, "prompt-alias");
}

}  // namespace
}  // namespace corvane::test
