// The drop zone: which drags it takes, its caption and look while one hovers,
// what a drop sends (once, in drop order, local items only), and the two pick
// buttons answered or cancelled.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "engine/sending/transfer_task.h"
#include "views/main/drop_zone.h"
#include "views/theme.h"
#include "views/views_fixture.h"

namespace corvane {
namespace {

using test::viewPeer;

class DropZoneTest : public test::ViewsTest {
protected:
    DropZoneTest() : zone(*state) {
        qputenv("CORVANE_NO_ANIM", "1");
        zone.resize(700, 160);
        zone.show();
        settle();
    }
    ~DropZoneTest() override { qunsetenv("CORVANE_NO_ANIM"); }

    std::filesystem::path made(const std::string& relative) {
        const auto path = box / "outbox" / relative;
        test::writeFile(path, relative);
        return path;
    }
    static QMimeData* carrying(const QList<QUrl>& urls) {
        auto* data = new QMimeData;
        data->setUrls(urls);
        return data;
    }
    static QUrl url(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

    bool enter(QMimeData* data) {
        QDragEnterEvent event(QPoint(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&zone, &event);
        return event.isAccepted();
    }
    // As the platform does it: the drag enters, then drops.
    void drop(QMimeData* data) {
        enter(data);
        QDropEvent event(QPointF(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&zone, &event);
    }
    std::vector<std::string> queued() const {
        std::vector<std::string> names;
        for (const auto& task : state->uploader().tasks()) names.push_back(task->fileName);
        return names;
    }
    QString caption() { return child<QLabel>(zone, "dropCaption")->text(); }

    DropZone zone;
};

TEST_F(DropZoneTest, aFileDragTurnsTheZoneToTheAccentUntilItLeaves) {
    EXPECT_EQ(caption(), QStringLiteral("把文件拖到这里，存到本机"));
    const QColor restingFill = zone.fillColor();
    std::unique_ptr<QMimeData> data(carrying({url(made("a.txt"))}));
    EXPECT_TRUE(enter(data.get()));
    EXPECT_TRUE(zone.targeted());
    EXPECT_EQ(caption(), QStringLiteral("松手即发送到「本机」"));
    EXPECT_EQ(zone.look(), 1.0);
    EXPECT_EQ(zone.borderColor(), Theme::tint(Tint::accent));
    EXPECT_NE(zone.fillColor(), restingFill);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&zone, &leave);
    EXPECT_FALSE(zone.targeted());
    EXPECT_EQ(caption(), QStringLiteral("把文件拖到这里，存到本机"));
    EXPECT_EQ(zone.fillColor(), restingFill);

    state->setTarget(Target::of(viewPeer("p-1", "R&D <b>Mac</b>")));
    EXPECT_EQ(caption(), QStringLiteral("把文件拖到这里，发到「R&D <b>Mac</b>」"));
    EXPECT_TRUE(enter(data.get()));
    EXPECT_EQ(caption(), QStringLiteral("松手即发送到「R&D <b>Mac</b>」"));
}

TEST_F(DropZoneTest, aDragWithoutLocalFilesIsRefused) {
    for (const auto& urls : {QList<QUrl>{QUrl("https://example.com/a.txt")}, QList<QUrl>{}}) {
        std::unique_ptr<QMimeData> data(carrying(urls));
        EXPECT_FALSE(enter(data.get()));
        EXPECT_FALSE(zone.targeted());
    }
    std::unique_ptr<QMimeData> text(new QMimeData);
    text->setText(QStringLiteral("/etc/passwd"));
    EXPECT_FALSE(enter(text.get()));
}

TEST_F(DropZoneTest, threeFilesAreSentOnceInDropOrderAndOtherAddressesIgnored) {
    const auto c = made("c.txt"), a = made("a.txt"), b = made("b.txt");
    int sends = 0;
    QObject::connect(state.get(), &AppState::toastChanged, [&] { sends += state->toast().has_value(); });
    std::unique_ptr<QMimeData> data(carrying({url(c), QUrl("http://example.com/x"), url(a), url(b)}));
    drop(data.get());
    EXPECT_FALSE(zone.targeted());
    EXPECT_EQ(queued(), (std::vector<std::string>{"c.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(state->toast(), std::optional<std::string>("已加入 3 个文件到传输队列"));
    EXPECT_EQ(sends, 1);
}

TEST_F(DropZoneTest, aFolderIsOneItemAndAnHttpOnlyDropSendsNothing) {
    made("album/one.jpg");
    made("album/two.jpg");
    std::unique_ptr<QMimeData> folder(carrying({url(box / "outbox" / "album")}));
    EXPECT_EQ(DropZone::localItems(folder.get()), std::vector<std::filesystem::path>{box / "outbox" / "album"});
    std::unique_ptr<QMimeData> web(carrying({QUrl("https://example.com/a.txt")}));
    drop(web.get());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(state->toast(), std::nullopt);
    drop(folder.get());
    EXPECT_EQ(queued().size(), 2u);
}

QFileDialog* openDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible()) return dialog;
    }
    return nullptr;
}

TEST_F(DropZoneTest, thePickButtonsSendWhatIsChosenAndCancellingSendsNothing) {
    const auto file = made("pick.txt");
    state->setTarget(Target::of(viewPeer("p-1", "Mac")));
    QTest::mouseClick(child<QPushButton>(zone, "pickFilesButton"), Qt::LeftButton);
    settle();
    QFileDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("选择要发送到「Mac」的文件"));
    dialog->reject();
    settle();
    EXPECT_TRUE(queued().empty());

    state->setTarget(Target::local());
    QTest::mouseClick(child<QPushButton>(zone, "pickFolderButton"), Qt::LeftButton);
    settle();
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("选择要发送到「本机」的文件夹"));
    dialog->reject();
    settle();

    QTest::mouseClick(child<QPushButton>(zone, "pickFilesButton"), Qt::LeftButton);
    settle();
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(QString::fromStdString(file.parent_path().string()));
    // The name typed into the dialog's name field, as a person does it.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("pick.txt"));
    EXPECT_EQ(dialog->selectedFiles(), QStringList{QString::fromStdString(file.string())});
    static_cast<QDialog*>(dialog)->accept();
    settle();
    EXPECT_EQ(queued(), std::vector<std::string>{"pick.txt"});
}

}  // namespace
}  // namespace corvane
