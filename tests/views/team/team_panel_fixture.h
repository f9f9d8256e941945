#pragma once
// The team panel over AppState with a real team store in the sandbox's receive folder
// (its password derivation slowed down, or held by a test while it counts the window's
// turns), and fakes for the image question, the alerts, the e-mail question, the
// clipboard and the mailer, each recording what it was asked.

#include <chrono>
#include <deque>
#include <functional>
#include <thread>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "storage/team_password.h"
#include "storage/team_store.h"
#include "views/team/team_panel.h"
#include "views/views_fixture.h"

namespace corvane::test {

struct SentMail {
    MailConfig config;
    std::string to, subject, body;
};

class TeamPanelTest : public ViewsTest {
protected:
    static constexpr std::chrono::milliseconds derivation{250};

    TeamPanelTest() {
        AppEnvironment env = state->environment();
        env.teamStore = store;
        env.readTeam = nullptr;  // read the store itself
        env.teamPendingCount = nullptr;
        env.copyText = [this](const std::string& text) { clipboard.push_back(text); };
        env.chooseImage = [this](const ImageQuestion& question, std::function<void(std::optional<std::filesystem::path>)> answer) {
            imageQuestions.push_back(question.message);
            answer(nextImage);
        };
        env.showAlert = [this](const AlertQuestion& question, std::function<void(int)> answer) {
            alerts.push_back(question);
            answer(alertAnswer);
        };
        env.askText = [this](const TextQuestion& question, std::function<void(std::optional<std::string>)> answer) {
            asked.push_back(question);
            answer(nextText);
        };
        env.sendMail = [this](const MailConfig& config, const std::string& to, const std::string& subject,
                              const std::string& body) -> Outcome {
            std::this_thread::sleep_for(mailDelay);
            std::lock_guard<std::mutex> hold(mailLock);
            sent.push_back({config, to, subject, body});
            return mailAnswer;
        };
        state = std::make_unique<AppState>(env);
        state->setShowWelcome(false);
        state->setDeviceName("desk");
        state->setLocalIPs({});
        state->setPort(8899);
    }

    ~TeamPanelTest() override {
        panel.reset();
        settle();
        state.reset();  // waits for its workers
    }

    TeamPanel& open() {
        panel = std::make_unique<TeamPanel>(*state, nullptr);
        panel->show();
        settle();
        return *panel;
    }

    // An administrator "admin" / "123456" and the team "Studio", made through the store.
    void makeTeam() {
        store->bind(state->root());
        ASSERT_TRUE(store->createAdmin("Ann", "123456", "Studio").has_value());
        store->prepareDirs();
    }

    std::string addMember(const std::string& login, const std::string& name, const std::string& status,
                          const std::string& note = "") {
        store->bind(state->root());
        const TeamRegResult made = store->registerUser(login, name, "secret1", note, "");
        EXPECT_TRUE(made.ok) << made.message;
        if (status != "pending") store->setStatus(made.user.id, status);
        return made.user.id;
    }

    template <typename Widget = QWidget>
    Widget* find(const QString& name) const {
        return panel->findChild<Widget*>(name);
    }
    template <typename Widget = QWidget>
    Widget* find(const char* name) const {
        return find<Widget>(QString::fromUtf8(name));
    }
    QString text(const char* name) const {
        if (auto* label = find<QLabel>(name)) return label->text();
        if (auto* button = find<QPushButton>(name)) return button->text();
        if (auto* field = find<QLineEdit>(name)) return field->text();
        ADD_FAILURE() << "no text widget " << name;
        return {};
    }
    void type(const char* name, const QString& value) {
        auto* field = find<QLineEdit>(name);
        ASSERT_NE(field, nullptr) << name;
        field->setText(value);
    }
    void press(const char* name) {
        auto* button = find<QPushButton>(name);
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }
    bool shown(const char* name) const {
        auto* widget = find(name);
        return widget && widget->isVisible();
    }
    static QString q(const char* utf8) { return QString::fromUtf8(utf8); }

    std::shared_ptr<TeamStore> store = std::make_shared<TeamStore>(
        TeamStore::systemClock(), [](const std::string&) {},
        [this](const std::string& password) {
            if (whileDeriving) {
                whileDeriving();
            } else {
                std::this_thread::sleep_for(derivation);
            }
            return makePasswordRecord(password);
        });
    // Run on the store's thread in place of the slow-down when set (before the operation
    // that derives is started, so the worker sees it).
    std::function<void()> whileDeriving;
    std::unique_ptr<TeamPanel> panel;
    std::vector<std::string> clipboard;
    std::vector<std::string> imageQuestions;
    std::optional<std::filesystem::path> nextImage;
    std::vector<AlertQuestion> alerts;
    int alertAnswer = 0;
    std::optional<std::string> nextText;
    std::chrono::milliseconds mailDelay{0};
    Outcome mailAnswer;
    std::mutex mailLock;
    std::vector<SentMail> sent;
};

}  // namespace corvane::test
