#pragma once
// The sheets over an AppState with recording fakes for the clipboard and the
// folder question, diagnostics without a gateway, and (started) the real
// server on a test port block with discovery on a test UDP port.

#include <ostream>

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "engine/discovery/discovery.h"
#include "engine/server/http_server.h"
#include "updater/updater.h"
#include "views/views_fixture.h"

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace corvane::test {

class SheetsTest : public ViewsTest {
protected:
    SheetsTest() {
        AppEnvironment env = state->environment();
        env.copyText = [this](const std::string& text) { clipboard.push_back(text); };
        env.chooseFolder = [this](const FolderQuestion&, std::function<void(std::optional<std::filesystem::path>)> answer) {
            ++folderQuestions;
            pendingAnswer = std::move(answer);
        };
        env.gateway = [] { return std::optional<std::string>(); };
        env.ping = [](const std::string&, int) { return false; };
        const int first = testPortBase(20);
        ServerOptions options = serverOptionsFor(env.defaults, env.teamStore);
        options.firstPort = first;
        options.lastPort = first + 3;
        env.makeServer = [options](const ServerSetup& setup) {
            return std::make_shared<HTTPServer>(setup.deviceID, setup.deviceName, setup.token, setup.pin, setup.root,
                                                options);
        };
        env.makeDiscovery = [udp = first + 10](const DiscoverySetup& setup) {
            DiscoveryOptions discovery;
            discovery.port = udp;
            return std::make_shared<Discovery>(setup.deviceID, setup.deviceName, setup.token, setup.port, discovery);
        };
        env.delays.diagPause = std::chrono::milliseconds(50);
        state = std::make_unique<AppState>(env);
        state->setShowWelcome(false);
    }

    ~SheetsTest() override {
        if (state->server()) stopAndDrain(*state->server());
    }

    // The button of that object name, clicked.
    template <typename Widget = QPushButton>
    static void click(const QObject& parent, const char* name) {
        auto* button = child<Widget>(parent, name);
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }

    static QString labelText(const QObject& parent, const char* name) {
        auto* label = child<QLabel>(parent, name);
        return label ? label->text() : QString();
    }

    static QString q(const char* utf8) { return QString::fromUtf8(utf8); }

    // An updater whose manifest address answers nothing (the settings sheet's block).
    Updater::Options offlineUpdaterOptions() {
        Updater::Options options;
        options.version = "1.0.0";
        options.logFolder = box / "logs";
        options.builtInManifestURL = "http://127.0.0.1:1/update.json";
        return options;
    }

    std::vector<std::string> clipboard;
    int folderQuestions = 0;
    std::function<void(std::optional<std::filesystem::path>)> pendingAnswer;
};

}  // namespace corvane::test
