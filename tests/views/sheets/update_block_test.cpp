// The update block over a real Updater: a check against a loopback manifest,
// install and cancel of a download held open, the page through the opener;
// and over one that is set to each phase: buttons, status and failure text.
#include <QProgressBar>

#include <nlohmann/json.hpp>

#include "base/cfg.h"
#include "support/scripted_http_server.h"
#include "updater/updater.h"
#include "views/pixel_probes.h"
#include "views/sheets/sheets_fixture.h"
#include "views/announcer.h"
#include "views/sheets/update_block.h"
#include "views/theme.h"

namespace corvane::test {
namespace {

using Kind = UpdatePhase::Kind;

class PhaseUpdater : public Updater {
public:
    using Updater::Updater;
    using Updater::setPhase;
};

class UpdateBlockTest : public SheetsTest {
protected:
    Updater::Options options() {
        Updater::Options o;
        o.version = "1.0.0";
        o.logFolder = box / "logs";
        o.builtInManifestURL = manifest.base() + "update.json";
        o.cacheFolder = box / "cache";
        o.tempFolder = box / "tmp";
        o.executable = box / "Corvane.app" / "bin" / "corvane";
        o.openURL = [](const std::string&) {};
        o.startSwap = [](const SwapLaunch&) { return std::optional<UpdateError>(); };
        o.quitForSwap = [] {};
        return o;
    }

    static bool shown(const QWidget& block, const char* name) {
        auto* widget = block.findChild<QWidget*>(QString::fromLatin1(name));
        return widget && widget->isVisibleTo(&block);
    }

    static QPushButton* button(const QWidget& block, const char* name) {
        return block.findChild<QPushButton*>(QString::fromLatin1(name));
    }

    ScriptedHTTPServer manifest;
    ScriptedHTTPServer package;
};

TEST_F(UpdateBlockTest, eachPhaseShowsItsButtonsAndStatus) {
    PhaseUpdater updater(options());
    UpdateBlock block(*state, updater);
    block.show();
    EXPECT_EQ(labelText(block, "updateVersion"), q("当前版本 v") + QString::fromStdString(Cfg::version()));
    struct Case {
        UpdatePhase phase;
        bool cancel;
        bool checkEnabled;
        const char* status;  // nullptr: no status line
    };
    const std::string html = "<html><body><h1>502 Bad Gateway</h1></body></html>";
    const Case cases[] = {
        {UpdatePhase::idle(), false, true, nullptr},
        {UpdatePhase::of(Kind::checking), false, false, "正在检查…"},
        {UpdatePhase::of(Kind::latest), false, true, "已是最新版本"},
        {UpdatePhase::downloading(0.426), true, false, "正在下载 42% · 下完自动校验并重启，数据都保留"},
        {UpdatePhase::downloading(0.29), true, false, "正在下载 28% · 下完自动校验并重启，数据都保留"},
        {UpdatePhase::downloading(1), true, false, "正在下载 100% · 下完自动校验并重启，数据都保留"},
        {UpdatePhase::of(Kind::verifying), false, false, "正在校验安装包…"},
        {UpdatePhase::of(Kind::installing), false, false, "正在替换并重启，请稍候…"},
        {UpdatePhase::failed(html), false, true, html.c_str()},
    };
    for (const Case& c : cases) {
        updater.setPhase(c.phase);
        const std::string name = c.phase.text();
        EXPECT_FALSE(shown(block, "updateInstall")) << name;
        EXPECT_EQ(shown(block, "updateCancel"), c.cancel) << name;
        EXPECT_EQ(shown(block, "updateCheck"), !c.cancel) << name;
        EXPECT_EQ(button(block, "updateCheck")->isEnabled(), c.checkEnabled) << name;
        EXPECT_TRUE(shown(block, "updatePage")) << name;
        EXPECT_EQ(shown(block, "updateProgress"), c.cancel) << name;
        EXPECT_FALSE(shown(block, "updateNewVersion")) << name;
        EXPECT_EQ(shown(block, "updateStatus"), c.status != nullptr) << name;
        if (c.status) {
            EXPECT_EQ(labelText(block, "updateStatus"), q(c.status)) << name;
        }
    }
    // The failure shows literally, in red, wrapping.
    auto* status = child<QLabel>(block, "updateStatus");
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_TRUE(status->wordWrap());
    EXPECT_EQ(status->palette().color(QPalette::WindowText), Theme::tint(Tint::red));
    updater.setPhase(UpdatePhase::downloading(0.5));
    EXPECT_EQ(child<QProgressBar>(block, "updateProgress")->value(), 500);

    button(block, "updatePage")->click();
    EXPECT_EQ(openedURLs, std::vector<std::string>{Updater::pageURL()}) << "also while downloading";
}

// Return on 检查更新 moved the keys on to 下载页, and the result was shown where no reader
// speaks it. Each step sets a phase; the keys stay on 检查更新 (with nothing, while it is
// disabled) and each result is told once as the phase comes to it.
TEST_F(UpdateBlockTest, theKeysStayOnCheckAndEachResultIsTold) {
    PhaseUpdater updater(options());
    UpdateBlock block(*state, updater);
    block.show();
    QApplication::setActiveWindow(&block);
    QPushButton* check = button(block, "updateCheck");
    check->setFocus();
    auto* announcer = block.findChild<Announcer*>();
    ASSERT_NE(announcer, nullptr);
    const struct {
        UpdatePhase phase;
        const char* told;  // "" when nothing is told
        bool keysOnCheck;
    } steps[] = {
        {UpdatePhase::of(Kind::checking), "", false},
        {UpdatePhase::of(Kind::latest), "已是最新版本", true},
        {UpdatePhase::of(Kind::latest), "", true},
        {UpdatePhase::of(Kind::checking), "", false},
        {UpdatePhase::failed("未能连接到服务器。"), "未能连接到服务器。", true},
        {UpdatePhase::of(Kind::checking), "", false},
        {UpdatePhase::of(Kind::available), "发现新版本 v", true},
    };
    int told = 0;
    for (const auto& step : steps) {
        updater.setPhase(step.phase);
        settle();
        const std::string what = step.phase.text();
        EXPECT_EQ(announcer->toldCount() - told, *step.told ? 1 : 0) << what;
        if (*step.told) {
            EXPECT_TRUE(announcer->text().startsWith(QString::fromUtf8(step.told))) << what;
        }
        told = announcer->toldCount();
        QWidget* keys = QApplication::focusWidget();
        if (step.keysOnCheck) {
            EXPECT_EQ(keys, check) << what;
        } else {
            EXPECT_TRUE(keys == nullptr || keys == check) << what << ": the keys went to "
                                                           << keys->objectName().toStdString();
        }
    }
}

TEST_F(UpdateBlockTest, checkInstallAndCancelDriveTheRealUpdater) {
    package.setReply({.status = 200,
                      .contentType = "application/zip",
                      .body = "PK",
                      .announcedLength = 1000000,
                      .withoutLength = false,
                      .holdOpen = true});
    const nlohmann::json offer = {
        {"latest", "9.1"},
        {"notes", {"更快的传输", "修复 & 改进", "<b>新</b>界面"}},
        {"files", {{"linux", {{"url", package.base() + "Corvane.zip"}, {"md5", std::string(32, 'a')}}}}}};
    manifest.setReply({.status = 200, .contentType = "application/json", .body = offer.dump()});
    Updater updater(options());
    UpdateBlock block(*state, updater);
    block.show();

    button(block, "updateCheck")->click();
    ASSERT_TRUE(qtWaitFor([&] { return updater.phase().kind == Kind::available; })) << updater.phase().text();
    EXPECT_TRUE(shown(block, "updateInstall"));
    EXPECT_EQ(button(block, "updateInstall")->text(), q("立即更新到 v9.1"));
    EXPECT_TRUE(button(block, "updateCheck")->isEnabled());
    EXPECT_EQ(labelText(block, "updateNewVersion"), q("发现新版本 v9.1"));
    EXPECT_EQ(labelText(block, "updateNotes"), q("· 更快的传输\n· 修复 & 改进\n· <b>新</b>界面"));
    EXPECT_EQ(child<QLabel>(block, "updateNotes")->textFormat(), Qt::PlainText);

    button(block, "updateInstall")->click();
    EXPECT_EQ(updater.phase().kind, Kind::downloading);
    EXPECT_FALSE(shown(block, "updateInstall"));
    EXPECT_TRUE(shown(block, "updateCancel"));
    EXPECT_FALSE(shown(block, "updateCheck"));
    EXPECT_TRUE(shown(block, "updatePage"));
    button(block, "updateCancel")->click();
    EXPECT_EQ(updater.phase().kind, Kind::available);
    EXPECT_TRUE(shown(block, "updateInstall"));
    EXPECT_FALSE(shown(block, "updateCancel"));
    EXPECT_TRUE(shown(block, "updateCheck"));

    manifest.setReply({.status = 200, .contentType = "application/json", .body = R"({"latest":"9.2"})"});
    button(block, "updateCheck")->click();
    ASSERT_TRUE(qtWaitFor([&] { return labelText(block, "updateNewVersion") == q("发现新版本 v9.2"); }));
    EXPECT_FALSE(shown(block, "updateNotes")) << "no notes: only the version and the hint";
}

TEST_F(UpdateBlockTest, theInstallButtonKeepsThePaddingOfTheOtherButtons) {
    manifest.setReply({.status = 200, .contentType = "application/json", .body = R"({"latest":"12.10.3"})"});
    Updater updater(options());
    UpdateBlock block(*state, updater);
    block.show();
    button(block, "updateCheck")->click();
    ASSERT_TRUE(qtWaitFor([&] { return updater.phase().kind == Kind::available; })) << updater.phase().text();
    QPushButton* install = button(block, "updateInstall");
    ASSERT_EQ(install->text(), q("立即更新到 v12.10.3"));

    // From the frame's edge (its first grey column) to the text's ink, on both sides.
    const QImage image = rendered(install);
    const QRect band(0, image.height() / 2 - 5, image.width(), 10);
    const auto frame = inkRuns(image, QRect(0, 0, image.width(), image.height()), [](QRgb p) { return qGray(p) < 215; });
    const auto text = inkRuns(image, band.adjusted(4, 0, -4, 0), [](QRgb p) { return qGray(p) < 120; });
    ASSERT_FALSE(frame.empty());
    ASSERT_FALSE(text.empty());
    EXPECT_GE(text.front().first - frame.front().first, 11) << "before the text";
    EXPECT_GE(frame.back().second - text.back().second, 11) << "after the text";
}

}  // namespace
}  // namespace corvane::test
