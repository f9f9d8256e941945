// The file rows: the age text and its boundaries, the kind colours, the
// button set of each row kind and its reserved column, the texts the model
// gives to accessibility, elision, clicks and double-clicks through the
// delegate, the reveal rule, and a long listing without a widget per row.
#include <cmath>
#include <limits>

#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "views/controls.h"
#include "views/main/detail_view.h"
#include "views/main/file_area.h"
#include "views/main/file_list_model.h"
#include "views/main/file_row_delegate.h"
#include "views/main/relative_time.h"
#include "views/pixel_probes.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

TEST(RelativeTime, boundariesOfEveryUnit) {
    qputenv("TZ", "UTC");
    tzset();
    const double now = 1'700'000'000'000.0;  // 2023-11-14 22:13:20 UTC
    const double s = 1000;
    struct Case {
        double at;
        const char* text;
    };
    const Case cases[] = {
        {0, "—"},
        {-5, "—"},
        {std::nan(""), "—"},
        {now - 59.9 * s, "刚刚"},
        {now + 3600 * s, "刚刚"},  // the future
        {now - 60 * s, "1 分钟前"},
        {now - 119 * s, "1 分钟前"},
        {now - 3599 * s, "59 分钟前"},
        {now - 3600 * s, "1 小时前"},
        {now - 86399 * s, "23 小时前"},
        {now - 86400 * s, "1 天前"},
        {now - (6 * 86400 + 23 * 3600) * s, "6 天前"},
        {now - 604800 * s, "2023-11-07"},
        {1, "1970-01-01"},
    };
    for (const Case& c : cases) EXPECT_EQ(relativeTime(c.at, now), c.text) << std::fixed << (c.at - now) / s;
    EXPECT_EQ(relativeTime(std::numeric_limits<double>::infinity(), now), "刚刚");
}

TEST(FileRowLook, iconColoursFollowTheLowerCasedLastExtension) {
    const std::pair<const char*, QColor> cases[] = {
        {"Photo.JPG", Theme::tint(Tint::pink)},
        {"photo.jpg", Theme::tint(Tint::pink)},
        {"clip.MKV", Theme::tint(Tint::purple)},
        {"main.swift", Theme::tint(Tint::teal)},
        {"paper.pdf", Theme::tint(Tint::red)},
        {"a.7z", Theme::tint(Tint::brown)},
        {"setup.exe", Theme::tint(Tint::indigo)},
        {"archive.tar.gz", Theme::secondary()},
        {"Makefile", Theme::secondary()},
        {"trailing.", Theme::secondary()},
    };
    for (const auto& [name, colour] : cases) EXPECT_EQ(FileRowDelegate::iconColor(name), colour) << name;
}

TEST(FileRowLook, remoteRowsNeverRevealLocalRowsNeverDownloadBothDeleteInRed) {
    struct Expected {
        const char* symbol;
        const char* help;
        FileAction action;
        bool danger;
    };
    const std::vector<Expected> remote = {{"arrow.down.circle", "下载到本机", FileAction::download, false},
                                          {"arrow.down.forward.circle", "下载并用默认程序打开", FileAction::open, false},
                                          {"trash", "删除", FileAction::remove, true}};
    const std::vector<Expected> local = {{"arrow.up.forward.app", "打开", FileAction::open, false},
                                         {"folder", "在文件管理器中显示", FileAction::reveal, false},
                                         {"trash", "删除", FileAction::remove, true}};
    for (const bool isRemote : {true, false}) {
        const auto buttons = FileRowDelegate::buttons(isRemote);
        const auto& expected = isRemote ? remote : local;
        ASSERT_EQ(buttons.size(), expected.size());
        for (size_t k = 0; k < buttons.size(); ++k) {
            EXPECT_EQ(buttons[k].symbol, expected[k].symbol);
            EXPECT_EQ(buttons[k].help, QString::fromUtf8(expected[k].help));
            EXPECT_EQ(buttons[k].action, expected[k].action);
            EXPECT_EQ(buttons[k].danger, expected[k].danger);
        }
    }
}

TEST(FileRowLook, theButtonColumnIsReservedAndTheColumnsSitRightToLeft) {
    for (const int width : {500, 787}) {
        const QRect row(0, 40, width, 37);
        const QRect column = FileRowDelegate::buttonColumn(row);
        EXPECT_EQ(column.width(), 78);
        EXPECT_EQ(column.right(), width - 1 - 16);
        EXPECT_EQ(FileRowDelegate::ageRect(row).right() + 1 + 9, column.left());
        EXPECT_EQ(FileRowDelegate::ageRect(row).width(), 76);
        EXPECT_EQ(FileRowDelegate::sizeRect(row).right() + 1 + 9, FileRowDelegate::ageRect(row).left());
        EXPECT_EQ(FileRowDelegate::sizeRect(row).width(), 74);
        EXPECT_EQ(FileRowDelegate::iconRect(row).left(), 16);
        EXPECT_EQ(FileRowDelegate::nameRect(row).left(), 16 + 24 + 9);
        EXPECT_LE(FileRowDelegate::nameRect(row).right() + 1 + 9 + 6 + 9, FileRowDelegate::sizeRect(row).left());
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(column.contains(FileRowDelegate::buttonRect(row, k))) << k;
            EXPECT_EQ(FileRowDelegate::buttonAt(row, FileRowDelegate::buttonRect(row, k).center()), k);
        }
        EXPECT_EQ(FileRowDelegate::buttonRect(row, 2).right(), column.right());
        EXPECT_EQ(FileRowDelegate::buttonAt(row, FileRowDelegate::sizeRect(row).center()), -1);
    }
}

TEST(FileRowLook, theModelGivesEveryVisibleTextLiterally) {
    FileListModel model;
    model.setFiles({{"<i>a<\\i>.txt", "<i>a</i>.txt", 1536, 0}, {"a/b/c.txt", "c.txt", 12, 0}}, false);
    const QModelIndex top = model.index(0);
    EXPECT_EQ(model.data(top, Qt::DisplayRole).toString(), QStringLiteral("<i>a</i>.txt"));
    EXPECT_EQ(model.data(top, Qt::AccessibleTextRole).toString(), QStringLiteral("<i>a</i>.txt · 1.50 KB · —"));
    EXPECT_EQ(model.data(top, Qt::ToolTipRole).toString(), QStringLiteral("<i>a<\\i>.txt\n双击：用默认程序打开"));
    const QModelIndex nested = model.index(1);
    EXPECT_EQ(model.data(nested, Qt::AccessibleTextRole).toString(), QStringLiteral("c.txt · a/b · 12 B · —"));
    model.setFiles({{"a/b/c.txt", "c.txt", 12, 0}}, true);
    EXPECT_EQ(model.data(model.index(0), Qt::ToolTipRole).toString(), QStringLiteral("a/b/c.txt\n双击：下载并打开"));
}

TEST(FileRowLook, longNamesBreakInTheMiddleAndLongFoldersAtTheirHead) {
    const QString name = QStringLiteral("开始") + QString(200, QLatin1Char('x')) + QStringLiteral("结尾.txt");
    const QString shownName = FileRowDelegate::nameLine(name, 200);
    EXPECT_TRUE(shownName.startsWith(QStringLiteral("开始"))) << shownName.toStdString();
    EXPECT_TRUE(shownName.endsWith(QStringLiteral("结尾.txt"))) << shownName.toStdString();
    EXPECT_TRUE(shownName.contains(QChar(0x2026)));
    const QString folder = QString(40, QLatin1Char('f')) + QStringLiteral("/中间/最后一层");
    const QString shownFolder = FileRowDelegate::folderLine(folder, 100);
    EXPECT_TRUE(shownFolder.startsWith(QChar(0x2026))) << shownFolder.toStdString();
    EXPECT_TRUE(shownFolder.endsWith(QStringLiteral("/最后一层"))) << shownFolder.toStdString();
    EXPECT_EQ(FileRowDelegate::nameLine(QStringLiteral("short.txt"), 200), QStringLiteral("short.txt"));
}

// The row's clicks as the delegate turns them into actions, in a list of its own.
class FileRowClicksTest : public testing::Test {
protected:
    FileRowClicksTest() {
        setUpRowList(&list);
        list.setModel(&model);
        list.setItemDelegate(&delegate);
        list.resize(760, 200);
        list.show();
        QObject::connect(&delegate, &FileRowDelegate::triggered,
                         [this](FileAction action, const FileItem&) { asked.push_back(action); });
    }

    // A click and then the double-click, as the platform delivers them; the actions it asked for.
    std::vector<FileAction> doubleClick(const QPoint& at) {
        asked.clear();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
        test::qtSpin(std::chrono::milliseconds(5));
        return asked;
    }

    QRect firstRow() const { return list.visualRect(model.index(0)); }

    FileListModel model;
    FileRowDelegate delegate;
    QListView list;
    std::vector<FileAction> asked;
};

TEST_F(FileRowClicksTest, aDoubleClickOnAButtonBelongsToTheButtonAlone) {
    // A double-clicked trash icon deleted the file, then opened it ("文件不存在：…"); a
    // double-clicked "下载到本机" downloaded the file, then downloaded it again to open it.
    for (const bool remote : {false, true}) {
        model.setFiles({{"a/b.txt", "b.txt", 1, 0}}, remote);
        const std::vector<FileRowButton> buttons = FileRowDelegate::buttons(remote);
        for (size_t k = 0; k < buttons.size(); ++k) {
            const QPoint at = FileRowDelegate::buttonRect(firstRow(), int(k)).center();
            EXPECT_EQ(doubleClick(at), std::vector<FileAction>{buttons[k].action}) << remote << " " << k;
        }
        EXPECT_EQ(doubleClick(FileRowDelegate::nameRect(firstRow()).center()), std::vector<FileAction>{FileAction::open})
            << "beside the buttons it opens";
    }
}

class FileAreaTest : public test::ViewsTest {
protected:
    FileAreaTest() : area(*state) {
        area.resize(760, 480);
        area.show();
        settle();
    }

    QRect rowRect(int row) const { return area.list()->visualRect(area.model()->index(row)); }
    void click(const QPoint& at) { QTest::mouseClick(area.list()->viewport(), Qt::LeftButton, {}, at); }

    FileArea area;
};

TEST_F(FileAreaTest, localButtonsOpenRevealAndDeleteTheRowsFileAfterTheClick) {
    test::writeFile(state->root() / "docs" / "a.txt", "a");
    test::writeFile(state->root() / "b.txt", "b");
    state->setFiles({{"docs/a.txt", "a.txt", 1, 0}, {"b.txt", "b.txt", 1, 0}});
    settle();
    ASSERT_EQ(area.currentWidget(), area.listPage());

    click(FileRowDelegate::buttonRect(rowRect(0), 0).center());
    EXPECT_TRUE(openedPaths.empty()) << "the action waits for the event loop";
    settle();
    EXPECT_EQ(openedPaths, std::vector<std::filesystem::path>{state->root() / "docs" / "a.txt"});

    click(FileRowDelegate::buttonRect(rowRect(1), 1).center());
    settle();
    EXPECT_EQ(revealed, std::vector<std::filesystem::path>{state->root() / "b.txt"});

    click(FileRowDelegate::buttonRect(rowRect(1), 2).center());
    ASSERT_TRUE(test::qtWaitFor([&] { return !std::filesystem::exists(state->root() / "b.txt"); },
                                std::chrono::seconds(10)));
    EXPECT_TRUE(std::filesystem::exists(state->root() / "docs" / "a.txt"));

    // A click beside the buttons (on the size column) does nothing.
    openedPaths.clear();
    click(FileRowDelegate::sizeRect(rowRect(0)).center());
    settle();
    EXPECT_TRUE(openedPaths.empty());
}

TEST_F(FileAreaTest, doubleClickingARemoteRowOpensNotDownloads) {
    state->setTarget(Target::of(viewPeer("p-1", "Mac", "", "192.168.1.20")));
    state->setFiles({{"x/report.pdf", "report.pdf", 10, 0}});
    settle();
    std::vector<std::string> toasts;
    QObject::connect(state.get(), &AppState::toastChanged, [&] {
        if (state->toast()) toasts.push_back(*state->toast());
    });
    // As the platform delivers it: a click, then the double-click.
    const QPoint onName = FileRowDelegate::nameRect(rowRect(0)).center();
    click(onName);
    QTest::mouseDClick(area.list()->viewport(), Qt::LeftButton, {}, onName);
    settle();
    // Opening a peer's file downloads it first and says so; a plain download says nothing.
    ASSERT_FALSE(toasts.empty());
    EXPECT_EQ(toasts.front(), "正在下载「report.pdf」…");
    // The open ends on its own (no device answers here); its outcome is not the
    // download's.
    ASSERT_TRUE(QTest::qWaitFor([&] { return toasts.size() >= 2; }, 10000)) << toasts.size();
    toasts.clear();
    click(FileRowDelegate::buttonRect(rowRect(0), 0).center());
    settle();
    EXPECT_TRUE(toasts.empty()) << toasts.front();
    EXPECT_TRUE(openedPaths.empty());
}

TEST_F(FileAreaTest, revealShowsNothingForAPathLeadingOutOfTheReceiveFolder) {
    // Paths that name nothing usable, or the folder itself, reveal nothing.
    for (const char* path : {"", "..", "./", ".ssh/id_rsa", "a/<b>.txt"}) {
        area.run(FileAction::reveal, FileItem{path, "x", 1, 0});
    }
    EXPECT_TRUE(revealed.empty()) << revealed.front();
    // Climbing pieces are dropped, as for open and delete: what is shown lies inside.
    const std::pair<const char*, std::filesystem::path> inside[] = {
        {"a/./b.txt", state->root() / "a" / "b.txt"},
        {"../outside.txt", state->root() / "outside.txt"},
        {"a/../../etc/passwd", state->root() / "a" / "etc" / "passwd"},
        {"/etc/passwd", state->root() / "etc" / "passwd"},
    };
    for (const auto& [path, shown] : inside) {
        revealed.clear();
        area.run(FileAction::reveal, FileItem{path, "x", 1, 0});
        EXPECT_EQ(revealed, std::vector<std::filesystem::path>{shown}) << path;
    }
}

TEST_F(FileAreaTest, aListReplacedUnderAClickIsNeverTouchedByTheQueuedAction) {
    test::writeFile(state->root() / "a.txt", "a");
    state->setFiles({{"a.txt", "a.txt", 1, 0}});
    settle();
    click(FileRowDelegate::buttonRect(rowRect(0), 0).center());
    state->setFiles({});  // the row is gone before the action runs
    settle();
    EXPECT_EQ(openedPaths, std::vector<std::filesystem::path>{state->root() / "a.txt"});
}

std::vector<FileItem> manyFiles(int count, const std::string& tag) {
    std::vector<FileItem> files;
    for (int k = 0; k < count; ++k) {
        const std::string name = tag + std::to_string(k) + ".txt";
        files.push_back({"d" + std::to_string(k % 7) + "/" + name, name, k, 1.7e12});
    }
    return files;
}

TEST_F(FileAreaTest, fiveThousandFilesMakeNoWidgetPerRowAndANewListingKeepsTheScroll) {
    const auto before = area.findChildren<QWidget*>().size();
    state->setFiles(manyFiles(5000, "f"));
    settle();
    area.list()->grab();
    EXPECT_EQ(area.model()->rowCount(), 5000);
    EXPECT_LT(area.findChildren<QWidget*>().size(), before + 5);

    area.list()->verticalScrollBar()->setValue(9000);
    const int scrolled = area.list()->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    auto changed = manyFiles(5000, "f");
    changed[4].size = 99;  // one file changed
    state->setFiles(changed);
    settle();
    EXPECT_EQ(area.list()->verticalScrollBar()->value(), scrolled);
    state->setFiles(manyFiles(5000, "g"));  // every file replaced
    settle();
    EXPECT_EQ(area.list()->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(area.model()->data(area.model()->index(0), Qt::DisplayRole).toString(), QStringLiteral("g0.txt"));
}

TEST_F(FileAreaTest, theHintUnderAnEmptyListIsReadableOnTheWindow) {
    state->setFiles({});
    settle();
    auto* hint = area.findChild<QLabel*>(QStringLiteral("fileEmptyHint"));
    ASSERT_NE(hint, nullptr);
    ASSERT_TRUE(hint->isVisible());
    const QImage image = test::rendered(hint);
    const QRgb ground = qRgb(0xEC, 0xEC, 0xEC);
    // The tertiary text colour of the other quiet lines gives 1.9:1 here; the quaternary gave 1.2:1.
    EXPECT_GE(test::contrast(test::darkest(image, image.rect()), ground), 1.7);
}

}  // namespace
}  // namespace corvane
