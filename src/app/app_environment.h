#pragma once
// Everything AppState works with that is not its own state: the clock, folders,
// host facts, user defaults, the file opener, the folder picker, its delays, the
// engine's factories, the team store and the update check. The shipped
// program passes the real ones (standard()); tests pass fakes.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/refusal.h"
#include "engine/discovery/host_info.h"
#include "engine/server/http_server.h"
#include "engine/main_queue.h"
#include "storage/mail_settings.h"

namespace corvane {

class DefaultsStore;
class Discovery;
class FeedbackSubmitter;
class TeamStore;

// How the server is built: this device's identity and its receive folder.
struct ServerSetup {
    std::string deviceID;
    std::string deviceName;
    std::string token;
    std::string pin;
    std::filesystem::path root;
};

// How discovery is built.
struct DiscoverySetup {
    std::string deviceID;
    std::string deviceName;
    std::string token;
    int port = 0;
};

// What the views show of the team store.
struct TeamFacts {
    bool hasAdmin = false;
    int pending = 0;
    std::string teamName;
    bool hasLogo = false;
    int64_t logoStamp = 0;
    std::vector<nlohmann::json> users;  // each account's public dictionary
};

// A question for the folder picker.
struct FolderQuestion {
    std::string prompt;   // the confirm button
    std::string message;
};

// User actions: a question answered with one line of text (the alias and e-mail dialogs).
struct TextQuestion {
    std::string title;        // the window's, naming the action that asks
    std::string message;
    std::string informative;
    std::string confirm;      // the first, default button
    std::string cancel;
    std::string text;         // the field's initial text
    std::string placeholder;
};

// A question for one image file (PNG, JPEG, GIF or WebP).
struct ImageQuestion {
    std::string message;
};

// An alert: its message, the informative text below it and its buttons, the first the default.
struct AlertQuestion {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;
};

// Every delay runs on a precise timer: a coarse one may fire up to 5 % early.
struct AppDelays {
    std::chrono::milliseconds toast{2400};
    std::chrono::milliseconds receivePoll{800};
    std::chrono::milliseconds updateCheck{6000};
    // Diagnostics and self-test: the pause before the discovery counters are read,
    // and the wait between two looks for a device to test against.
    std::chrono::milliseconds diagPause{1200};
    std::chrono::milliseconds selfTestLook{500};
    // A copied read-once note closes this long after the copy.
    std::chrono::milliseconds burnClose{300};
};

struct AppEnvironment {
    // Milliseconds since 1970: every time stamp the application makes (sent chat,
    // received chat without one, manual devices, read-once notes) reads it.
    std::function<double()> clock;
    std::filesystem::path home;        // the user's home folder
    std::filesystem::path appSupport;  // config.json, device-id, chat.json, boot.log
    std::shared_ptr<DefaultsStore> defaults;
    std::shared_ptr<MainQueue> mainQueue;

    std::function<std::string()> hostname;
    std::function<std::vector<InterfaceAddress>()> ipv4Addresses;

    // Opens a file or folder with the desktop's default application; false when none did.
    std::function<bool(const std::filesystem::path&)> openPath;
    // Opens an address (a web page) in the default browser; false when that could not start.
    std::function<bool(const std::string& url)> openURL;
    // Shows a file selected in the file manager (or, without one that can, its folder).
    std::function<void(const std::filesystem::path&)> reveal;
    // Asks for a folder without blocking; the answer (none when cancelled) comes later on the main thread.
    std::function<void(const FolderQuestion&, std::function<void(std::optional<std::filesystem::path>)>)> chooseFolder;

    // ---- User actions: clipboard and text questions ----
    // Replaces the clipboard's content with a plain text.
    std::function<void(const std::string&)> copyText;
    // Asks for one line of text without blocking; the answer (none when cancelled) comes later on the main thread.
    std::function<void(const TextQuestion&, std::function<void(std::optional<std::string>)>)> askText;
    // Asks for one image file without blocking; the answer (none when cancelled) comes later on the main thread.
    std::function<void(const ImageQuestion&, std::function<void(std::optional<std::filesystem::path>)>)> chooseImage;
    // Shows an alert without blocking; the answer (the index of the button pressed, or -1 when it
    // closed otherwise) comes later on the main thread.
    std::function<void(const AlertQuestion&, std::function<void(int)>)> showAlert;

    std::function<std::shared_ptr<HTTPServer>(const ServerSetup&)> makeServer;
    std::function<std::shared_ptr<Discovery>(const DiscoverySetup&)> makeDiscovery;

    // The team store bound to a receive folder: everything the mirror shows, and the pending count alone.
    std::function<TeamFacts(const std::filesystem::path& root)> readTeam;
    std::function<int(const std::filesystem::path& root)> teamPendingCount;

    // The silent update check asked for after start-up.
    std::function<void()> checkForUpdates;

    // ---- Diagnostics and team operations ----
    // The default gateway and one ICMP echo with a time-out; both may wait, so they run off the main thread.
    std::function<std::optional<std::string>()> gateway;
    std::function<bool(const std::string& host, int timeoutMs)> ping;
    // The team store the team operations change (the process's shared store in the shipped program);
    // readTeam and teamPendingCount read it unless a test gives its own.
    std::shared_ptr<TeamStore> teamStore;
    // Sends one mail and waits for its outcome (at most about 15 s); called on a worker thread only.
    std::function<Outcome(const MailConfig&, const std::string& to, const std::string& subject,
                          const std::string& body)>
        sendMail;

    // The feedback sheet's one network client (the maker's endpoint in the shipped program).
    std::shared_ptr<FeedbackSubmitter> feedback;

    AppDelays delays;

    // The real folders, host, defaults, engine and team store; the openers, the
    // folder picker, the clipboard and the text question do nothing until the
    // window layer sets them.
    static AppEnvironment standard();
};

// The environment with every missing piece filled in: the system clock, real host facts, a
// defaults store beside the app-support folder, the process's main queue, and
// harmless answers for the opener, the pickers, the alerts and the update check, a
// team store of its own, the process's mailer and a feedback submitter that reaches no server.
AppEnvironment completeEnvironment(AppEnvironment env);

// The server's options in the shipped program: the shipped port range, and the
// team-mode gate reading "nasExt" from the defaults afresh on every request.
ServerOptions serverOptionsFor(std::shared_ptr<DefaultsStore> defaults, std::shared_ptr<TeamStore> teamStore);

// Milliseconds since 1970 by the system clock, at its full precision.
double systemMillis();

// The main queue of the process (made on first use, on the main thread; never destroyed).
std::shared_ptr<MainQueue> processMainQueue();

}  // namespace corvane
