#include "app/app_state.h"

#include <QPointer>

#include "app/app_config.h"
#include "app/defaults_store.h"
#include "app/device_identity.h"
#include "app/peer_list_facts.h"
#include "app/receive_folder.h"
#include "base/cfg.h"
#include "base/whole_files.h"
#include "engine/discovery/discovery.h"
#include "engine/server/http_server.h"
#include "storage/team_files.h"
#include "updater/version_compare.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

AppState* sharedInstance = nullptr;

}  // namespace

AppState& AppState::createShared(AppEnvironment env) {
    if (!sharedInstance) sharedInstance = new AppState(std::move(env));  // lives as long as the process
    return *sharedInstance;
}

AppState& AppState::shared() { return createShared(AppEnvironment::standard()); }

AppState::AppState(AppEnvironment env, QObject* parent)
    : QObject(parent),
      env_(completeEnvironment(std::move(env))),
      peerListFacts_(std::make_shared<PeerListFacts>()),
      uploader_(std::make_unique<Uploader>(*env_.mainQueue)) {
    toastTimer_.setSingleShot(true);
    toastTimer_.setTimerType(Qt::PreciseTimer);
    connect(&toastTimer_, &QTimer::timeout, this, [this] { setToast(std::nullopt); });
    recvPollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&recvPollTimer_, &QTimer::timeout, this, [this] { pollRecvTasks(); });

    nasEnabled_ = env_.defaults->boolValue("nasExt");
    log("init: 进入");

    const AppConfig config = AppConfig::parse(readWholeFile(env_.appSupport / "config.json").bytes);
    usageMode_ = config.usageMode;
    showWelcome_ = !config.welcomeDone;
    centerID_ = config.centerID;

    const LogLine logLine = [this](const std::string& line) { log(line); };
    root_ = config.storageDir.empty() ? resolveRoot(env_.home, logLine) : normalizeStorageDir(config.storageDir, logLine);

    deviceID_ = loadDeviceID(env_.appSupport);
    log("init: deviceID=" + deviceID_);

    const std::string host = env_.hostname();
    deviceName_ = config.deviceName.empty() ? host : config.deviceName;
    peerAliases_ = config.peerAliases;
    manualPeers_ = config.manualPeers;

    token_ = randomToken();
    log("init: token 生成完毕");
    log("init: deviceName=" + deviceName_ + " 别名 " + std::to_string(peerAliases_.size()) + " 个 手工设备 " +
        std::to_string(manualPeers_.size()) + " 个");

    // A file sent to this device shows up in its own list; a send elsewhere changes nothing here.
    const QPointer<AppState> self(this);
    uploader_->onFinished = [self](const FileItem&, const std::optional<Peer>& peer) {
        if (self && !peer) self->refreshFiles();
    };
    uploader_->onChange = [self] {
        if (self) Q_EMIT self->uploaderChanged();
    };
    log("init: 回调已挂载，完成");
    refreshPeerListFacts();
}

AppState::~AppState() {
    shutdown();
    uploader_.reset();  // abandons running uploads and waits for their threads
    workers_.waitForDone();
    if (sharedInstance == this) sharedInstance = nullptr;
}

void AppState::log(const std::string& line) const { bootLogIn(env_.appSupport, line); }

void AppState::refreshPeerListFacts() {
    peerListFacts_->update(deviceID_, deviceName_, port_, discoveryEnabled_, discovery_);
}

void AppState::saveConfig() {
    AppConfig config;
    config.usageMode = usageMode_;
    config.welcomeDone = !showWelcome_;
    config.centerID = centerID_;
    config.storageDir = root_.string();
    config.deviceName = deviceName_;
    config.peerAliases = peerAliases_;
    config.manualPeers = manualPeers_;
    std::error_code ec;
    fs::create_directories(env_.appSupport, ec);
    writeWholeFile(env_.appSupport / "config.json", config.serialize(nasEnabled_));  // failures are not reported
}

void AppState::changeStorageDir(std::function<void()> answered) {
    if (movingStorage_) {
        if (answered) answered();  // no question while a move runs
        return;
    }
    const QPointer<AppState> self(this);
    env_.chooseFolder({"迁移到此处", "选择新的存储目录，现有文件会自动迁移过去"},
                      [self, answered = std::move(answered)](std::optional<fs::path> chosen) {
                          if (self && chosen && !chosen->empty()) self->moveStorageTo(*chosen);
                          if (answered) answered();
                      });
}

void AppState::moveStorageTo(const fs::path& chosen) {
    if (movingStorage_) return;
    const fs::path from = cleanFolderPath(root_);
    const fs::path to = cleanFolderPath(chosen);
    if (from == to) {
        applyStorageDir(to);
        return;
    }
    // Moving the folder's entries into a folder inside it would move that folder into itself.
    if (isInsideFolder(to, from)) {
        reportStorageMoveFailure("新的存储目录不能在当前存储目录里面");
        return;
    }
    std::error_code ec;
    fs::create_directories(to, ec);
    if (!fs::is_directory(to)) {
        reportStorageMoveFailure("无法创建 " + to.string() + (ec ? "：" + ec.message() : std::string()));
        return;
    }

    // Moves across file systems copy whole folders: that waits on the disk, so it runs off the main thread.
    movingStorage_ = true;
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, from, to] {
        const Outcome result = moveFolderEntries(from, to);
        queue->post([self, to, result] {
            if (!self) return;
            self->movingStorage_ = false;
            if (!result) {
                self->reportStorageMoveFailure(result.refusal());
                return;
            }
            self->applyStorageDir(to);
        });
    });
}

void AppState::reportStorageMoveFailure(const std::string& reason) {
    const std::string text = "存储目录迁移失败：" + reason;
    log(text);
    flash(text);
}

void AppState::applyStorageDir(const fs::path& folder) {
    if (server_) server_->switchRoot(folder);
    root_ = folder;
    saveConfig();
    refreshFiles();
    refreshTeamState();
}

void AppState::setNas(bool on) {
    setNasEnabled(on);
    env_.defaults->setBool("nasExt", on);
    std::string text;
    if (on) {
        if (centerID_.empty()) setCenterID(deviceID_);
        setUsageMode("team");
        text = "团队模式已开启：文件默认存到本机（设置里可换存储设备）";
    } else {
        setUsageMode("lan");
        text = "已切换为点对点模式：免注册，不对外提供网页";
    }
    saveConfig();
    reloadPeers();
    updateTargetLabel();
    flash(text);
}

void AppState::finishWelcome(const std::string& mode) {
    setUsageMode(mode == "team" ? "team" : "lan");
    const bool team = usageMode_ == "team";
    setNasEnabled(team);
    env_.defaults->setBool("nasExt", team);
    setShowWelcome(false);
    saveConfig();
    if (team) setShowTeam(true);
}

void AppState::flash(const std::string& text) {
    setToast(text);
    toastTimer_.start(env_.delays.toast);  // restarting drops the pending clear of an earlier toast
}

bool AppState::isNewer(const std::string& a, const std::string& b) { return isNewerVersion(a, b); }

std::optional<Peer> AppState::centerPeer() const {
    for (const Peer& peer : peers_) {
        if (peer.id == centerID_) return peer;
    }
    return std::nullopt;
}

}  // namespace corvane
