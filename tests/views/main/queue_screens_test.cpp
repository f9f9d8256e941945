// The picture of the send queue waiting for a receiver out of reach in docs/screens/,
// made by scripts/screens.sh (CORVANE_SCREENS names the folder; without it the test is skipped).
#include <cstdio>
#include <cstdlib>

#include <QDir>

#include "views/main/queue_panel.h"
#include "views/views_fixture.h"

namespace corvane::test {
namespace {

class QueueScreens : public ViewsTest {};

TEST_F(QueueScreens, waitingForAReceiverOutOfReach) {
    const char* folder = std::getenv("CORVANE_SCREENS");
    if (!folder || !*folder) GTEST_SKIP() << "CORVANE_SCREENS names no folder";
    QDir().mkpath(QString::fromLocal8Bit(folder));
    QueuePanel panel(*state);
    panel.resize(787, 200);
    panel.show();
    std::vector<std::shared_ptr<TransferTask>> tasks;
    const Peer mac = viewPeer("dev-mac", "会议室 iMac");
    for (const char* name : {"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg", "IMG_0004.jpg", "IMG_0005.jpg"}) {
        tasks.push_back(std::make_shared<TransferTask>(name, std::string("相册/") + name, 4'000'000, "/x", mac));
    }
    tasks[0]->state = TransferState::done();
    tasks[0]->sent = 4'000'000;
    tasks[1]->sent = 1'600'000;
    state->uploader().append(tasks);
    for (size_t k = 1; k < tasks.size(); ++k) tasks[k]->receiverOutOfReach = true;
    Q_EMIT state->uploaderChanged();
    settle();
    const QString path = QString::fromLocal8Bit(folder) + QStringLiteral("/queue-waiting-reconnect.png");
    EXPECT_TRUE(panel.grab().save(path, "PNG")) << path.toStdString();
    std::printf("screens: %s\n", path.toStdString().c_str());
}

}  // namespace
}  // namespace corvane::test
