// The setters of the published values: each assignment is announced.
#include "app/app_state.h"

namespace corvane {

void AppState::setDeviceName(std::string value) {
    deviceName_ = std::move(value);
    refreshPeerListFacts();
    Q_EMIT deviceNameChanged();
}

void AppState::setPort(int value) {
    port_ = value;
    refreshPeerListFacts();
    Q_EMIT portChanged();
}

void AppState::setLocalIPs(std::vector<std::string> value) {
    localIPs_ = std::move(value);
    Q_EMIT localIPsChanged();
}

void AppState::setDiscoveryEnabled(bool value) {
    discoveryEnabled_ = value;
    refreshPeerListFacts();
    Q_EMIT discoveryEnabledChanged();
}

void AppState::setToken(std::string value) {
    token_ = std::move(value);
    Q_EMIT tokenChanged();
}

void AppState::setPeers(std::vector<Peer> value) {
    peers_ = std::move(value);
    Q_EMIT peersChanged();
}

void AppState::setTarget(Target value) {
    target_ = std::move(value);
    Q_EMIT targetChanged();
}

void AppState::setPeerAliases(std::map<std::string, std::string> value) {
    peerAliases_ = std::move(value);
    Q_EMIT peerAliasesChanged();
}

void AppState::setManualPeers(std::vector<std::string> value) {
    manualPeers_ = std::move(value);
    Q_EMIT manualPeersChanged();
}

void AppState::setBurnNote(std::optional<BurnNote> value) {
    // Closing a note shows the next one that arrived meanwhile.
    if (!value && !burnQueue_.empty()) {
        value = std::move(burnQueue_.front());
        burnQueue_.pop_front();
    }
    // On screen now: the server no longer counts it as a note waiting in line.
    if (value && server_) server_->burnShown(value->id);
    burnNote_ = std::move(value);
    Q_EMIT burnNoteChanged();
}

void AppState::setBurnMode(bool value) {
    burnMode_ = value;
    Q_EMIT burnModeChanged();
}

void AppState::setTextTargets(std::set<std::string> value) {
    textTargets_ = std::move(value);
    Q_EMIT textTargetsChanged();
}

void AppState::setDiagLines(std::vector<DiagLine> value) {
    diagLines_ = std::move(value);
    Q_EMIT diagLinesChanged();
}

void AppState::setDiagRunning(bool value) {
    diagRunning_ = value;
    Q_EMIT diagRunningChanged();
}

void AppState::setShowDiag(bool value) {
    showDiag_ = value;
    Q_EMIT showDiagChanged();
}

void AppState::setFiles(std::vector<FileItem> value) {
    files_ = std::move(value);
    Q_EMIT filesChanged();
}

void AppState::setFilesTruncated(bool value) {
    filesTruncated_ = value;
    Q_EMIT filesTruncatedChanged();
}

void AppState::setFilesProblem(std::string value) {
    filesProblem_ = std::move(value);
    Q_EMIT filesProblemChanged();
}

void AppState::setSearchText(std::string value) {
    searchText_ = std::move(value);
    Q_EMIT searchTextChanged();
}

void AppState::setLoadingFiles(bool value) {
    loadingFiles_ = value;
    Q_EMIT loadingFilesChanged();
}

void AppState::setToast(std::optional<std::string> value) {
    toast_ = std::move(value);
    Q_EMIT toastChanged();
}

void AppState::setPeerPINs(std::map<std::string, std::string> value) {
    peerPINs_ = std::move(value);
    Q_EMIT peerPINsChanged();
}

void AppState::setPinPromptFor(std::optional<Peer> value) {
    pinPromptFor_ = std::move(value);
    Q_EMIT pinPromptForChanged();
}

void AppState::setPinInput(std::string value) {
    pinInput_ = std::move(value);
    Q_EMIT pinInputChanged();
}

void AppState::setShowTextSheet(bool value) {
    showTextSheet_ = value;
    Q_EMIT showTextSheetChanged();
}

void AppState::setTextInput(std::string value) {
    textInput_ = std::move(value);
    Q_EMIT textInputChanged();
}

void AppState::setChatConvs(std::vector<ChatConv> value) {
    chatConvs_ = std::move(value);
    Q_EMIT chatConvsChanged();
}

void AppState::setChatMsgs(std::map<std::string, std::vector<ChatMsg>> value) {
    chatMsgs_ = std::move(value);
    Q_EMIT chatMsgsChanged();
}

void AppState::setChatCurrent(std::string value) {
    chatCurrent_ = std::move(value);
    Q_EMIT chatCurrentChanged();
}

void AppState::setShowChat(bool value) {
    showChat_ = value;
    Q_EMIT showChatChanged();
}

void AppState::setTeamPending(int value) {
    teamPending_ = value;
    Q_EMIT teamPendingChanged();
}

void AppState::setShowTeam(bool value) {
    showTeam_ = value;
    Q_EMIT showTeamChanged();
}

void AppState::setTeamReady(bool value) {
    teamReady_ = value;
    Q_EMIT teamReadyChanged();
}

void AppState::setTeamUsers(std::vector<nlohmann::json> value) {
    teamUsers_ = std::move(value);
    Q_EMIT teamUsersChanged();
}

void AppState::setTeamName(std::string value) {
    teamName_ = std::move(value);
    Q_EMIT teamNameChanged();
}

void AppState::setTeamHasLogo(bool value) {
    teamHasLogo_ = value;
    Q_EMIT teamHasLogoChanged();
}

void AppState::setTeamLogoStamp(int64_t value) {
    teamLogoStamp_ = value;
    Q_EMIT teamLogoStampChanged();
}

void AppState::setUsageMode(std::string value) {
    usageMode_ = std::move(value);
    Q_EMIT usageModeChanged();
}

void AppState::setNasEnabled(bool value) {
    nasEnabled_ = value;
    Q_EMIT nasEnabledChanged();
}

void AppState::setNearbyTeam(std::optional<Peer> value) {
    nearbyTeam_ = std::move(value);
    Q_EMIT nearbyTeamChanged();
}

void AppState::setDismissedTeamBanners(std::set<std::string> value) {
    dismissedTeamBanners_ = std::move(value);
    Q_EMIT dismissedTeamBannersChanged();
}

void AppState::setShowWelcome(bool value) {
    showWelcome_ = value;
    Q_EMIT showWelcomeChanged();
}

void AppState::setShowFeedback(bool value) {
    showFeedback_ = value;
    Q_EMIT showFeedbackChanged();
}

void AppState::setRecvTasks(std::vector<RecvItem> value) {
    recvTasks_ = std::move(value);
    Q_EMIT recvTasksChanged();
}

void AppState::setCenterID(std::string value) {
    centerID_ = std::move(value);
    Q_EMIT centerIDChanged();
}
}  // namespace corvane
