// The settings sheet: the name and its "保存" rule, the storage device picker
// in team mode (offline centre, no selection, refills that never choose), the
// mode texts, the folder question closing the sheet, its diagnostics sheet,
// feedback and the keys.
#include <clocale>

#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QTest>
#include <QLayout>
#include <QLocale>
#include <QScrollArea>
#include <QScrollBar>

#include <nlohmann/json.hpp>

#include "updater/updater.h"
#include "views/data_labels.h"
#include "views/elided_combo_box.h"
#include "views/main/content_view.h"
#include "views/sheets/diag_sheet.h"
#include "views/sheets/settings_sheet.h"
#include "views/sheets/sheets_fixture.h"

namespace corvane::test {
namespace {

class PhaseUpdater : public Updater {
public:
    using Updater::setPhase;
    using Updater::Updater;
};

class SettingsSheetTest : public SheetsTest {
protected:
    SettingsSheetTest() : view(*state), updater(offlineUpdaterOptions()) {
        view.show();
        state->setDeviceName("工作站");
        state->setLocalIPs({"192.168.1.5"});
        state->setPort(8899);
    }

    // Opened as the detail pane does: over the window, deleted once closed.
    SettingsSheet* open() {
        auto* sheet = new SettingsSheet(*state, updater, &view);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->open();
        settle();
        return sheet;
    }

    static QStringList pickerRows(const QDialog& sheet) {
        QStringList rows;
        auto* picker = child<QComboBox>(sheet, "settingsCenterPicker");
        for (int i = 0; i < picker->count(); ++i) rows << picker->itemText(i);
        return rows;
    }

    static QComboBox* picker(const QDialog& sheet) { return child<QComboBox>(sheet, "settingsCenterPicker"); }

    static void choose(QComboBox* box, const QString& text) {
        const int index = box->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        box->setCurrentIndex(index);
        Q_EMIT box->activated(index);  // what a person's choice sends
    }

    ContentView view;
    Updater updater;
};

TEST_F(SettingsSheetTest, opensOverTheWindowWithTheNameAsDraftAndSaveFollowsTheRule) {
    QPointer<SettingsSheet> sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), q("设置"));
    EXPECT_EQ(sheet->width(), 480);
    EXPECT_EQ(sheet->parentWidget(), view.window());
    EXPECT_TRUE(sheet->testAttribute(Qt::WA_DeleteOnClose));
    auto* field = child<QLineEdit>(*sheet, "settingsNameField");
    EXPECT_EQ(field->text(), q("工作站"));
    EXPECT_EQ(field->accessibleName(), q("这台设备的名字"));
    auto* save = child<QPushButton>(*sheet, "settingsNameSave");

    const std::pair<const char*, bool> drafts[] = {
        {"工作站", false},            // the current name
        {"   ", false},               // only blanks
        {"\xe3\x80\x80\t", false},    // an ideographic space and a tab
        {" 工作站 ", true},            // the name with blanks around differs
        {"\n", true},                 // a line break is not a blank here
        {"剪辑主机", true},
    };
    for (const auto& [draft, enabled] : drafts) {
        field->setText(q(draft));
        Q_EMIT field->textEdited(field->text());
        EXPECT_EQ(save->isEnabled(), enabled) << draft;
    }
    field->setText(q(" 剪辑主机 "));
    Q_EMIT field->textEdited(field->text());
    save->click();
    EXPECT_EQ(state->deviceName(), "剪辑主机") << "renameDevice trimmed the untrimmed draft";
    EXPECT_EQ(*state->toast(), "本机已命名为「剪辑主机」");
    EXPECT_EQ(field->text(), q(" 剪辑主机 ")) << "the draft stays as typed";
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(save->isEnabled());
}

TEST_F(SettingsSheetTest, thePickerListsThisDeviceAnOfflineCentreAndThePeersWithoutChoosing) {
    ASSERT_TRUE(state->addManualPeer("192.168.1.20"));  // a device that stays listed when the list is rebuilt
    const QString mac = q("手动 192.168.1.20（192.168.1.20）");
    state->setNas(true);  // the centre becomes this device
    QPointer<SettingsSheet> sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(pickerRows(*sheet), (QStringList{q("🖥 本设备（192.168.1.5）"), mac}));
    EXPECT_EQ(picker(*sheet)->currentIndex(), 0);
    EXPECT_EQ(labelText(*sheet, "settingsDestHelp"), q("已选本设备：发送的文件直接存进本机接收目录。"));

    state->setTeamName("研发部");
    const QString mine = q("🖥 本设备（192.168.1.5）· 团队中心");
    EXPECT_EQ(pickerRows(*sheet).front(), mine);

    state->setCenterID("gone");  // a centre that is not online
    EXPECT_EQ(pickerRows(*sheet), (QStringList{mine, q("离线"), mac}));
    EXPECT_EQ(picker(*sheet)->currentIndex(), -1) << "no row carries the centre's tag";
    EXPECT_EQ(labelText(*sheet, "settingsDestHelp"), q("团队模式下，发送的文件都会自动存到所选设备。"));

    choose(picker(*sheet), q("离线"));
    EXPECT_EQ(state->centerID(), "");
    const auto config = nlohmann::json::parse(readFile(box / "support" / "config.json"));
    EXPECT_EQ(config["centerId"], "");
    EXPECT_EQ(pickerRows(*sheet), (QStringList{mine, mac}));
    EXPECT_EQ(picker(*sheet)->currentIndex(), -1);
    EXPECT_EQ(labelText(*sheet, "settingsDestHelp"), q("团队模式下，发送的文件都会自动存到所选设备。"));

    choose(picker(*sheet), mac);
    EXPECT_EQ(state->centerID(), "manual:192.168.1.20:8899");
    EXPECT_EQ(picker(*sheet)->currentIndex(), 1);
    // The peer list changes: the refilled picker keeps the centre and writes nothing.
    int writes = 0;
    QObject::connect(state.get(), &AppState::centerIDChanged, [&] { ++writes; });
    std::vector<Peer> more = state->peers();
    more.insert(more.begin(), viewPeer("p2", "Win", "", "192.168.1.30"));
    state->setPeers(more);
    EXPECT_EQ(picker(*sheet)->currentIndex(), 2);
    state->setPeers({});
    EXPECT_EQ(state->centerID(), "manual:192.168.1.20:8899");
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(pickerRows(*sheet), (QStringList{mine, q("离线")}));
    EXPECT_EQ(picker(*sheet)->currentIndex(), -1);
}

TEST_F(SettingsSheetTest, theModeTextsFollowTheToggleAndThePortStaysUngrouped) {
    const std::string oldLocale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "en_US.UTF-8");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    state->setPort(18899);
    QPointer<SettingsSheet> sheet = open();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(child<QWidget>(*sheet, "settingsCenterPicker")->isVisible()) << "point-to-point: no picker";
    EXPECT_EQ(labelText(*sheet, "settingsDestHelp"),
              q("点对点模式：选中谁就发给谁，也可以一次发多台，文件不集中存放。\n开启下方「团队模式」后，可以把文件统一存到指定的那台设备。"));
    EXPECT_EQ(labelText(*sheet, "settingsModeText"), q("点对点模式 · 免注册，选中谁就发给谁。"));

    child<QCheckBox>(*sheet, "settingsNasToggle")->click();
    EXPECT_TRUE(state->nasEnabled());
    EXPECT_EQ(*state->toast(), "团队模式已开启：文件默认存到本机（设置里可换存储设备）");
    EXPECT_TRUE(child<QWidget>(*sheet, "settingsCenterPicker")->isVisible());
    EXPECT_EQ(labelText(*sheet, "settingsModeText"),
              q("团队模式 · 需要账号；团队聊天 + 中央存储，文件统一存到上面选的设备。"));
    EXPECT_EQ(labelText(*sheet, "settingsNasHelp"),
              q("已开启：本机可作为团队中央存储。\n· NAS 网页：http://192.168.1.5:18899/web（浏览器直接访问）\n"
                "· WebDAV 挂载：http://192.168.1.5:18899/dav/（用户名任意，密码 = 访问口令）\n"
                "关闭时只做点对点互传，不对外提供任何网页。"));
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, oldLocale.c_str());

    state->setNas(false);
    EXPECT_FALSE(child<QCheckBox>(*sheet, "settingsNasToggle")->isChecked());
    EXPECT_EQ(labelText(*sheet, "settingsNasHelp"),
              q("关闭时只做点对点互传，不对外提供任何网页。\n开启后本机可当 NAS：浏览器管理文件、WebDAV 挂载成网络盘、可创建团队空间。"));

    EXPECT_EQ(labelText(*sheet, "settingsDiscoveryText"), q("仅能手动 IP 直连"));
    EXPECT_EQ(child<QLabel>(*sheet, "settingsDiscoveryText")->palette().color(QPalette::WindowText),
              Theme::tint(Tint::orange));
    state->setDiscoveryEnabled(true);
    EXPECT_EQ(labelText(*sheet, "settingsDiscoveryText"), q("局域网发现已开启"));
    EXPECT_EQ(child<ElidedLabel>(*sheet, "settingsRootPath")->text().toStdString(), state->root().string());
}

TEST_F(SettingsSheetTest, theFolderQuestionClosesTheSheetOnceAnsweredEitherWay) {
    for (const bool chosen : {false, true}) {
        QPointer<SettingsSheet> sheet = open();
        ASSERT_NE(sheet, nullptr);
        click(*sheet, "settingsMoveRoot");
        EXPECT_EQ(folderQuestions, chosen ? 2 : 1);
        settle();
        EXPECT_TRUE(sheet && sheet->isVisible()) << "open while the question is asked";
        pendingAnswer(chosen ? std::optional<std::filesystem::path>(box / "moved") : std::nullopt);
        settle();
        EXPECT_TRUE(sheet.isNull()) << (chosen ? "chosen" : "cancelled");
    }
    ASSERT_TRUE(qtWaitFor([&] { return state->root() == box / "moved"; }));
}

TEST_F(SettingsSheetTest, diagnosticsFeedbackAndTheKeys) {
    state->setDiagLines({DiagLine::make(DiagLine::Level::ok, "ok")});
    QPointer<SettingsSheet> sheet = open();
    ASSERT_NE(sheet, nullptr);
    click(*sheet, "settingsDiagButton");
    settle();
    QPointer<DiagSheet> diag = sheet->diagSheet();
    ASSERT_NE(diag, nullptr);
    EXPECT_TRUE(diag->isVisible());
    EXPECT_EQ(diag->parentWidget(), sheet.data());
    EXPECT_FALSE(state->showDiag()) << "the settings sheet's own flag, not the root window's";
    click(*diag, "diagClose");
    settle();
    EXPECT_TRUE(diag.isNull());
    EXPECT_EQ(sheet->diagSheet(), nullptr);
    EXPECT_TRUE(sheet->isVisible());

    click(*sheet, "settingsFeedbackButton");
    EXPECT_TRUE(state->showFeedback());
    settle();
    EXPECT_TRUE(sheet->isVisible()) << "feedback leaves the settings open";
    state->setShowFeedback(false);
    settle();

    QTest::keyClick(sheet, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(sheet.isNull()) << "Escape does nothing";
    child<QLineEdit>(*sheet, "settingsNameField")->setFocus();
    QTest::keyClick(child<QLineEdit>(*sheet, "settingsNameField"), Qt::Key_Return);
    settle();
    EXPECT_TRUE(sheet.isNull()) << "Return is 完成";
}

TEST_F(SettingsSheetTest, theStoragePickerIsAsWideAsItsLongestEntryThenElidesInTheMiddle) {
    // At a fixed 220 px "· 团队中心" was cut off.
    state->setNas(true);
    state->setTeamName("研发部");
    QPointer<SettingsSheet> sheet = open();
    ASSERT_NE(sheet, nullptr);
    auto* box = qobject_cast<ElidedComboBox*>(picker(*sheet));
    ASSERT_NE(box, nullptr);
    const QString mine = q("🖥 本设备（192.168.1.5）· 团队中心");
    EXPECT_EQ(box->currentText(), mine);
    EXPECT_GE(box->width(), box->sizeHint().width());
    EXPECT_EQ(box->shownText(), mine);

    const std::string longName = repeatedText("会议室里那台很旧的设备", 6);
    state->setPeers({viewPeer("p9", longName, "", "192.168.1.77")});
    state->setCenterID("p9");
    settle();
    const QString whole = QString::fromStdString(longName + "（192.168.1.77）");
    ASSERT_EQ(box->currentText(), whole);
    const QWidget* row = box->parentWidget();
    // The new entry's width reaches the row through posted layout requests.
    EXPECT_TRUE(QTest::qWaitFor([&] { return box->geometry().right() <= row->contentsRect().right(); }, 2000))
        << "never wider than its row: " << box->geometry().right() << " > " << row->contentsRect().right();
    const QString shown = box->shownText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(whole.left(3)) && shown.endsWith(q("77）"))) << "cut in the middle: " << shown.toStdString();
    QHelpEvent hover(QEvent::ToolTip, box->rect().center(), box->mapToGlobal(box->rect().center()));
    QCoreApplication::sendEvent(box, &hover);
    EXPECT_TRUE(box->toolTip().contains(whole)) << box->toolTip().toStdString();
    EXPECT_EQ(box->accessibleDescription(), whole);
}

TEST_F(SettingsSheetTest, onAScreenLowerThanTheSheetTheContentScrollsAndDoneStaysInView) {
    // Team mode with an update waiting is the tallest sheet; a 768 px screen cannot hold it.
    state->setNas(true);
    state->setTeamName("研发部");
    PhaseUpdater waiting(offlineUpdaterOptions());
    waiting.setPhase(UpdatePhase::of(UpdatePhase::Kind::available));
    QPointer<SettingsSheet> sheet = new SettingsSheet(*state, waiting, &view, 768);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    settle();
    EXPECT_EQ(sheet->height(), 768) << "it needs " << sheet->layout()->totalHeightForWidth(480);
    auto* done = child<QPushButton>(*sheet, "settingsDone");
    EXPECT_TRUE(done->isVisible());
    EXPECT_LE(done->mapTo(sheet.data(), QPoint(0, done->height())).y(), sheet->height() - Sheet::padding);
    auto* body = sheet->findChild<QScrollArea*>(QStringLiteral("sheetBody"));
    ASSERT_NE(body, nullptr);
    EXPECT_GT(body->verticalScrollBar()->maximum(), 0);
    auto* feedback = child<QPushButton>(*sheet, "settingsFeedbackButton");
    body->ensureWidgetVisible(feedback);
    const QPoint inView = feedback->mapTo(body->viewport(), QPoint(0, feedback->height()));
    EXPECT_LE(inView.y(), body->viewport()->height()) << "scrolled to, 意见反馈… shows";
    QTest::keyClick(sheet, Qt::Key_Return);
    settle();
    EXPECT_TRUE(sheet.isNull()) << "Return is 完成";
}

TEST_F(SettingsSheetTest, onATallerScreenTheWholeSheetShowsAndNothingScrolls) {
    QPointer<SettingsSheet> sheet = new SettingsSheet(*state, updater, &view, 1200);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->show();
    settle();
    EXPECT_LT(sheet->height(), 1200);
    EXPECT_EQ(sheet->height(), sheet->layout()->totalHeightForWidth(480));
    EXPECT_EQ(sheet->findChild<QScrollArea*>(QStringLiteral("sheetBody"))->verticalScrollBar()->maximum(), 0);
    sheet->close();
}

}  // namespace
}  // namespace corvane::test
