// The send pickers: the detailed list shows sizes, types and dates whole.
#include <fstream>

#include <QApplication>
#include <QFileDialog>
#include <QDir>
#include <QHeaderView>
#include <QListView>
#include <QSettings>
#include <QTreeView>

#include "views/picker.h"
#include "views/views_fixture.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

class PickerTest : public ViewsTest {
protected:
    static QFileDialog* openDialog() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(window); dialog && dialog->isVisible()) return dialog;
        }
        return nullptr;
    }
};

TEST_F(PickerTest, sizesTypesAndDatesShowWhole) {
    const fs::path outbox = box / "outbox";
    fs::create_directories(outbox / "素材");
    // "57.22 MiB" and four digits before the point ("1,023.29 MiB") are wider than Qt plans for.
    for (const auto& [name, size] : {std::pair{"年会视频 4K.mov", int64_t(60'000'000)}, {"合同扫描件.pdf", int64_t(900'000)},
                                     {"素材备份.zip", int64_t(1'073'000'000)}}) {
        std::ofstream(outbox / name).close();
        fs::resize_file(outbox / name, size);
    }
    Picker::pickFiles(*state);
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setViewMode(QFileDialog::Detail);
    dialog->setDirectory(QString::fromStdString(outbox.string()));
    auto* tree = dialog->findChild<QTreeView*>();
    ASSERT_NE(tree, nullptr);
    // The rows come in from the model's own thread.
    ASSERT_TRUE(qtWaitFor([&] { return tree->model()->rowCount(tree->rootIndex()) == 4; }));
    settle();
    const QAbstractItemView* rows = tree;  // sizeHintForColumn is public here
    ASSERT_EQ(tree->header()->count(), 4);
    for (const auto& [column, what] : {std::pair{1, "size"}, {2, "type"}, {3, "date"}}) {
        EXPECT_GE(tree->header()->sectionSize(column), rows->sizeHintForColumn(column)) << what << " needs more room";
    }
    dialog->reject();
    settle();
}

// HOME names another folder while it lives; the places list reads it when a panel opens.
class ScopedHome {
public:
    explicit ScopedHome(const fs::path& home) : saved_(qgetenv("HOME")) { qputenv("HOME", home.string().c_str()); }
    ~ScopedHome() { qputenv("HOME", saved_); }

private:
    QByteArray saved_;
};

TEST_F(PickerTest, foldersAreTypedInChineseAndPlacesShowWhole) {
    const fs::path outbox = box / "outbox";
    fs::create_directories(outbox / "素材");
    std::ofstream(outbox / "a.txt").close();
    // A home folder's name wider than the places list Qt plans for.
    const fs::path home = box / "zhang.xiaoming-workstation";
    fs::create_directories(home);
    const ScopedHome scopedHome(home);
    // Panels other tests left open are not this one, nor the places they saved for the next.
    while (QFileDialog* left = openDialog()) left->reject();
    settle();
    QSettings(QSettings::UserScope, QStringLiteral("QtProject")).remove(QStringLiteral("FileDialog"));
    Picker::pickFiles(*state);
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    auto* sidebar = dialog->findChild<QListView*>(QStringLiteral("sidebar"));
    ASSERT_NE(sidebar, nullptr);
    settle();
    QStringList places;
    for (int row = 0; row < sidebar->model()->rowCount(); ++row) places << sidebar->model()->index(row, 0).data().toString();
    EXPECT_TRUE(places.contains(QStringLiteral("zhang.xiaoming-workstation"))) << places.join(u',').toStdString();
    EXPECT_GE(sidebar->viewport()->width(), sidebar->sizeHintForColumn(0)) << "a place is cut";
    dialog->setViewMode(QFileDialog::Detail);
    dialog->setDirectory(QString::fromStdString(outbox.string()));
    auto* tree = dialog->findChild<QTreeView*>();
    ASSERT_TRUE(qtWaitFor([&] { return tree->model()->rowCount(tree->rootIndex()) == 2; }));
    const QModelIndex folder = tree->model()->index(0, 2, tree->rootIndex());
    EXPECT_EQ(folder.data().toString(), QStringLiteral("文件夹"));
    dialog->reject();
    settle();
}

}  // namespace
}  // namespace corvane::test
