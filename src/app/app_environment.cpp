#include "app/app_environment.h"

#include <chrono>

#include "app/defaults_store.h"
#include "app/feedback_submitter.h"
#include "app/os_release.h"
#include "app/qt_main_queue.h"
#include "base/cfg.h"
#include "engine/discovery/discovery.h"
#include "engine/server/http_server.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_store.h"
#include "updater/updater.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// The team store bound to the receive folder, read through its own locked queries.
TeamFacts readTeamStore(TeamStore& store, const fs::path& root) {
    store.bind(root);
    TeamFacts facts;
    facts.hasAdmin = store.hasAdmin();
    facts.pending = store.pendingCount();
    facts.teamName = store.teamName();
    facts.hasLogo = store.hasLogo();
    facts.logoStamp = store.logoStamp();
    for (const TeamUser& user : store.allUsers()) facts.users.push_back(user.publicDict());
    return facts;
}

int teamStorePending(TeamStore& store, const fs::path& root) {
    store.bind(root);
    return store.pendingCount();
}

// A store of this environment's own, logging beside its configuration.
std::shared_ptr<TeamStore> privateTeamStore(const fs::path& appSupport) {
    return std::make_shared<TeamStore>(TeamStore::systemClock(),
                                       [appSupport](const std::string& line) { bootLogIn(appSupport, line); });
}

}  // namespace

ServerOptions serverOptionsFor(std::shared_ptr<DefaultsStore> defaults, std::shared_ptr<TeamStore> teamStore) {
    ServerOptions options;
    // The route gate asks on every request, so a change in the settings applies at once.
    options.nasExt = [defaults = std::move(defaults)] { return defaults->boolValue("nasExt"); };
    options.burnsAwaitDisplay = true;  // read-once notes wait in AppState until shown
    StorageContext storage;
    storage.store = std::move(teamStore);
    storage.mailer = std::shared_ptr<Mailer>(&Mailer::shared(), [](Mailer*) {});  // never destroyed
    storage.clock = TeamStore::systemClock();
    options.addRoutes = [storage](RouteTable& table) { addStorageRoutes(table, storage); };
    return options;
}

double systemMillis() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

std::shared_ptr<MainQueue> processMainQueue() {
    static const std::shared_ptr<MainQueue> queue(new QtMainQueue(), [](MainQueue*) {});  // never destroyed
    return queue;
}

AppEnvironment AppEnvironment::standard() {
    AppEnvironment env;
    env.home = homeFolder();
    env.appSupport = Cfg::appSupport();
    env.defaults = std::make_shared<DefaultsStore>(DefaultsStore::standardPath());
    env.teamStore = std::shared_ptr<TeamStore>(&TeamStore::shared(), [](TeamStore*) {});  // never destroyed
    env.checkForUpdates = [] { Updater::shared().check(true); };
    env.feedback = std::make_shared<FeedbackSubmitter>(FeedbackSubmitter::shippedEndpoint,
                                                       FeedbackSubmitter::shippedTimeoutMs, systemOSText());
    return completeEnvironment(std::move(env));
}

AppEnvironment completeEnvironment(AppEnvironment env) {
    if (!env.clock) env.clock = systemMillis;
    if (env.home.empty()) env.home = homeFolder();
    if (env.appSupport.empty()) env.appSupport = Cfg::appSupport();
    if (!env.defaults) env.defaults = std::make_shared<DefaultsStore>(env.appSupport / "defaults.json");
    if (!env.mainQueue) env.mainQueue = processMainQueue();
    if (!env.hostname) env.hostname = HostInfo::hostname;
    if (!env.ipv4Addresses) env.ipv4Addresses = HostInfo::ipv4Addresses;
    if (!env.openPath) env.openPath = [](const fs::path&) { return false; };
    if (!env.openURL) env.openURL = [](const std::string&) { return false; };
    if (!env.reveal) env.reveal = [](const fs::path&) {};
    if (!env.chooseFolder) {
        env.chooseFolder = [](const FolderQuestion&, std::function<void(std::optional<fs::path>)> answer) {
            answer(std::nullopt);
        };
    }
    if (!env.copyText) env.copyText = [](const std::string&) {};
    if (!env.askText) {
        env.askText = [](const TextQuestion&, std::function<void(std::optional<std::string>)> answer) {
            answer(std::nullopt);
        };
    }
    if (!env.chooseImage) {
        env.chooseImage = [](const ImageQuestion&, std::function<void(std::optional<fs::path>)> answer) {
            answer(std::nullopt);
        };
    }
    if (!env.showAlert) env.showAlert = [](const AlertQuestion&, std::function<void(int)> answer) { answer(-1); };
    if (!env.teamStore) env.teamStore = privateTeamStore(env.appSupport);
    if (!env.sendMail) {
        env.sendMail = [](const MailConfig& config, const std::string& to, const std::string& subject,
                          const std::string& body) { return Mailer::shared().sendSync(config, to, subject, body); };
    }
    if (!env.makeServer) {
        const ServerOptions options = serverOptionsFor(env.defaults, env.teamStore);
        env.makeServer = [options](const ServerSetup& setup) {
            return std::make_shared<HTTPServer>(setup.deviceID, setup.deviceName, setup.token, setup.pin, setup.root,
                                                options);
        };
    }
    if (!env.makeDiscovery) {
        env.makeDiscovery = [](const DiscoverySetup& setup) {
            return std::make_shared<Discovery>(setup.deviceID, setup.deviceName, setup.token, setup.port);
        };
    }
    if (!env.gateway) env.gateway = HostInfo::gateway;
    if (!env.ping) env.ping = HostInfo::ping;
    if (!env.readTeam) env.readTeam = [store = env.teamStore](const fs::path& root) { return readTeamStore(*store, root); };
    if (!env.teamPendingCount) {
        env.teamPendingCount = [store = env.teamStore](const fs::path& root) { return teamStorePending(*store, root); };
    }
    if (!env.checkForUpdates) env.checkForUpdates = [] {};
    // Without one given, feedback goes nowhere: an empty address fails at once as a transport error.
    if (!env.feedback) env.feedback = std::make_shared<FeedbackSubmitter>("", FeedbackSubmitter::shippedTimeoutMs, systemOSText());
    return env;
}

}  // namespace corvane
