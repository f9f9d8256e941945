// The send queue with 3,000 tasks listed: applying one progress change; and
// the chat window opened on a conversation of 300 messages, up to its first
// paint. Prints milliseconds; asserts nothing. Runs on the offscreen platform
// with an application state in a temporary folder, never started.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QListView>
#include <QTemporaryDir>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "views/main/chat_view.h"
#include "views/main/queue_list_model.h"
#include "views/main/queue_panel.h"
#include "views/theme.h"

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::vector<corvane::ChatMsg> conversation(int count) {
    std::vector<corvane::ChatMsg> msgs;
    for (int k = 0; k < count; ++k) {
        corvane::ChatMsg msg;
        msg.id = "m" + std::to_string(k);
        msg.from = k % 3 ? "dev-1" : "self";
        msg.fromName = "设计部的 MacBook";
        msg.to = "all";
        msg.ts = 1.7e12 + k * 60000.0;
        msg.text = "第 " + std::to_string(k) + " 条消息：今天下午三点在会议室讨论新版设计稿 https://example.com/" +
                   std::to_string(k);
        msg.mine = k % 3 == 0;
        msgs.push_back(msg);
    }
    return msgs;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    corvane::Theme::apply(app);
    QTemporaryDir box;
    corvane::AppEnvironment env;
    env.home = box.filePath("home").toStdString();
    env.appSupport = box.filePath("support").toStdString();
    env.defaults = std::make_shared<corvane::DefaultsStore>(box.filePath("defaults.json").toStdString());
    corvane::AppState state(env);
    state.setShowWelcome(false);

    constexpr int kTasks = 3000;
    std::vector<std::shared_ptr<corvane::TransferTask>> tasks;
    for (int k = 0; k < kTasks; ++k) {
        const std::string name = "文件-" + std::to_string(k) + ".jpg";
        tasks.push_back(std::make_shared<corvane::TransferTask>(name, "相册/" + name, 4'000'000, box.filePath("x").toStdString(),
                                                                std::nullopt));
    }
    corvane::QueuePanel panel(state);
    panel.resize(787, 200);
    panel.show();
    state.uploader().append(tasks);
    Q_EMIT state.uploaderChanged();
    panel.grab();
    tasks[1]->state = corvane::TransferState::running();
    tasks[1]->sent = 1'234'567;
    tasks[1]->speed = 2.5e6;
    auto started = Clock::now();
    Q_EMIT state.uploaderChanged();
    panel.grab();
    std::printf("one progress change with %d tasks listed, applied and painted: %.2f ms\n", kTasks, millis(started));

    state.setChatMsgs({{"all", conversation(300)}});
    started = Clock::now();
    corvane::ChatView chat(state);
    chat.show();
    chat.grab();
    std::printf("chat window on 300 messages, built to its first paint: %.1f ms\n", millis(started));
    return 0;
}
