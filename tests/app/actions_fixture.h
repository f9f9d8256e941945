#pragma once
// AppState with recording fakes for the user's actions: the clipboard, the file
// opener and the text question; and small readers of the state the tests check.

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app_state_fixture.h"

namespace corvane::test {

class ActionsTest : public AppStateTest {
protected:
    AppState& makeWithFakes() {
        AppEnvironment env = environment();
        env.copyText = [this](const std::string& text) { clipboard.push_back(text); };
        env.openPath = [this](const std::filesystem::path& path) {
            opened.push_back(path);
            return openSucceeds;
        };
        env.askText = [this](const TextQuestion& question, std::function<void(std::optional<std::string>)> answer) {
            textQuestions.push_back(question);
            answer(typedAnswer);
        };
        state = std::make_unique<AppState>(env);
        QObject::connect(state.get(), &AppState::toastChanged, [this] {
            if (state->toast()) toasts.push_back(*state->toast());
        });
        return *state;
    }

    // Started, with the first local listing landed.
    AppState& startWithFakes(const std::string& config = "{}") {
        writeConfig(config);
        AppState& s = makeWithFakes();
        s.start();
        EXPECT_TRUE(qtWaitFor([&] { return !s.loadingFiles() && !s.chatHistoryLoading(); }));
        return s;
    }

    bool listed(const std::string& path) const {
        const auto& files = state->files();
        return std::any_of(files.begin(), files.end(), [&path](const FileItem& f) { return f.path == path; });
    }

    std::vector<std::string> clipboard;
    std::vector<std::filesystem::path> opened;
    bool openSucceeds = true;
    std::vector<TextQuestion> textQuestions;
    std::optional<std::string> typedAnswer;
    std::vector<std::string> toasts;  // every toast shown, in order
};

}  // namespace corvane::test
