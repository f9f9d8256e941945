#pragma once
// AppState for view tests: built with fakes (sandbox folders, a fixed host,
// recording openers), never started, so nothing listens or broadcasts.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "support/qt_wait.h"
#include "support/test_support.h"

namespace corvane::test {

// A device on the network as the peer list shows it.
inline Peer viewPeer(const std::string& id, const std::string& name, const std::string& team = "",
                     const std::string& ip = "192.168.1.20", int port = 8899) {
    Peer peer;
    peer.id = id;
    peer.name = peer.realName = name;
    peer.ip = ip;
    peer.port = port;
    peer.plat = "darwin";
    peer.team = team;
    return peer;
}

inline std::string repeatedText(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

class ViewsTest : public testing::Test {
protected:
    ViewsTest() {
        AppEnvironment env;
        env.home = box / "home";
        env.appSupport = box / "support";
        env.defaults = std::make_shared<DefaultsStore>(box / "defaults.json");
        env.hostname = [] { return std::string("desk"); };
        env.openURL = [this](const std::string& url) {
            openedURLs.push_back(url);
            return true;
        };
        env.reveal = [this](const std::filesystem::path& path) { revealed.push_back(path); };
        env.openPath = [this](const std::filesystem::path& path) {
            openedPaths.push_back(path);
            return true;
        };
        // Questions are recorded and never answered.
        env.askText = [this](const TextQuestion& question, std::function<void(std::optional<std::string>)>) {
            asked.push_back(question);
        };
        state = std::make_unique<AppState>(env);
        state->setShowWelcome(false);  // no config.json: it would start raised
    }

    // Lets queued work (the sheet host's pass, deferred deletes) run.
    static void settle() {
        qtSpin(std::chrono::milliseconds(5));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The child widget of that object name, or a failed assertion.
    template <typename Widget>
    static Widget* child(const QObject& parent, const char* name) {
        auto* found = parent.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    Sandbox box;
    std::vector<std::string> openedURLs;
    std::vector<std::filesystem::path> revealed;
    std::vector<std::filesystem::path> openedPaths;
    std::vector<TextQuestion> asked;
    std::unique_ptr<AppState> state;
};

}  // namespace corvane::test
