#pragma once
// The one observable state object of the application. It owns the server,
// discovery and the send queue, keeps the configuration, identity, peers and
// target, and turns what the server receives into state for the views.
// Main thread only; every published value has a change signal that is emitted
// on every assignment, also when the value did not change.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include <nlohmann/json.hpp>

#include "app/app_environment.h"
#include "app/chat_model.h"
#include "app/worker_pool.h"
#include "base/refusal.h"
#include "engine/sending/api_client.h"
#include "engine/model.h"
#include "engine/sending/uploader.h"

namespace corvane {

class Discovery;
class HTTPServer;
class PeerListFacts;
struct DiagnosisFacts;

class AppState : public QObject {
    Q_OBJECT

public:
    // One incoming transfer as the receive panel shows it.
    struct RecvItem {
        std::string id;
        std::string name;
        int64_t size = 0;
        int64_t received = 0;
        double speed = 0;
        std::string from;
        std::string state;
        bool operator==(const RecvItem&) const = default;
    };

    explicit AppState(AppEnvironment env, QObject* parent = nullptr);
    ~AppState() override;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // The instance of the process. createShared() makes it with the given
    // environment on its first call; shared() makes it with the standard
    // environment when nobody did before.
    static AppState& createShared(AppEnvironment env);
    static AppState& shared();

    // ---- Configuration and identity ----

    // Writes config.json (atomically).
    void saveConfig();
    // Asks for a new receive folder and moves the entries over; a failed move is undone and shown.
    // answered runs once the question is answered (chosen or cancelled), after the move has started.
    void changeStorageDir(std::function<void()> answered = {});
    // Team mode on or off (settings).
    void setNas(bool on);
    // The first-run choice: "team" or anything else for point-to-point.
    void finishWelcome(const std::string& mode);
    // Shows a toast that clears itself after the toast delay (2.4 s) of the latest call.
    void flash(const std::string& text);
    // Whether dotted version a is greater than b.
    static bool isNewer(const std::string& a, const std::string& b);
    // The first peer whose id is centerID.
    std::optional<Peer> centerPeer() const;

    // ---- Start-up, shutdown and server events ----

    // Once per process: receive folder, server, discovery, chat, files, peers, team
    // state, the receive poll and the delayed update check.
    void start();
    // Stops discovery and the server's listening socket.
    void shutdown();
    // One server event, on the main thread (the server's callback posts them here in order).
    void handleServerEvent(const ServerEvent& event);

    // ---- Peer list and target ----

    // Rebuilds peers from discovery and the manual entries, keeps the target valid.
    void reloadPeers();
    // In team mode points the target at the center device and reloads the files.
    void updateTargetLabel();
    // Selects what the window shows; a peer that asks for a PIN is prompted for it first.
    void switchTarget(const Target& t);
    // Where sends go: the target, or the center device in team mode; none (with a toast)
    // when the center device is offline.
    std::optional<Target> resolveSendTarget();
    // Renames this device (1 to 24 characters); the server and discovery learn it at once.
    void renameDevice(const std::string& name);

    // ---- Files ----

    // Queues files and folders (in this order) for the send target.
    void send(const std::vector<std::filesystem::path>& urls);

    // Reloads the file list of the current target off the main thread.
    void refreshFiles();
    // A client for a peer's server (with the PIN typed for it), or for this device's own.
    std::optional<APIClient> client(const Peer& peer) const;
    std::optional<APIClient> localClient() const;

    // ---- Chat ----

    int ensureConv(const std::string& id);
    void syncChatPeers();
    void sortChatConvs();
    void appendChat(const std::string& key, const ChatMsg& msg, bool silent);
    void markChatBurned(const std::string& id);
    // Reads "chat.json" off the main thread; its messages join their conversations
    // later, in one step (chatHistoryLoading() is true until then).
    void loadChat();
    bool chatHistoryLoading() const { return chatHistoryLoading_; }
    void persistChat();

    // ---- User actions: peers and PINs, file actions, texts and read-once notes, chat ----

    // The first local IPv4 address, or "127.0.0.1".
    std::string myIP() const;
    // Stores the typed PIN (as typed, also when empty) and opens the prompted peer.
    void confirmPIN();
    // Sets a peer's local display name (at most 24 characters); an empty one restores its own name.
    void setAlias(const std::string& alias, const std::string& id);
    // Asks for a peer's alias in a dialog, then setAlias().
    void promptAlias(const Peer& peer);
    // Adds a device typed as "a.b.c.d" or "a.b.c.d:port"; false (with a toast) when refused.
    bool addManualPeer(const std::string& text);
    // Removes a hand-entered device ("host:port") and its alias.
    void removeManualPeer(const std::string& entry);

    // The files whose path contains the search text (case-insensitive), in list order.
    std::vector<FileItem> filteredFiles() const;
    // The size of all files, the hidden ones of a search included.
    int64_t totalSize() const;
    // Saves a file of the shown peer at the top of the receive folder.
    void download(const FileItem& item);
    // Opens a local file, or downloads a peer's file and opens it.
    void open(const FileItem& item);
    // Deletes files of the current target, one after another, then reloads the list.
    void deleteFiles(const std::vector<FileItem>& items);
    // The name, or "base (n).ext" with the first free n, in the folder.
    static std::string uniqueName(const std::filesystem::path& folder, const std::string& name);

    // The recipients of a text when none are chosen: the shown device, or the center in team mode.
    std::set<std::string> defaultTextTargets() const;
    // Sends textInput to the chosen recipients one after another ("local" is this device).
    void sendText();
    // Tells this device's own server to forget a read-once note the user has seen.
    void discardBurn(const std::string& id);
    // Shows a received read-once note, or queues it while another one is shown;
    // clearing burnNote shows the next queued note.
    void showBurnNote(BurnNote note);
    // Discards the note with that id and closes it, but only while it is the one shown:
    // a newer note that took its place stays.
    void closeBurnNote(const std::string& id);
    // The same after the burn-close delay (0.3 s), as after copying the note.
    void closeBurnNoteSoon(const std::string& id);

    // Sends a message to the current conversation's devices.
    void sendChat(const std::string& text, bool burn);
    void markChatFailed(const std::string& id, const std::string& key);
    // Makes a conversation current: clears its unread count and burns its unread read-once messages.
    void openChat(const std::string& id);
    void clearChat(const std::string& id);
    // A receiver read one of this device's read-once messages.
    void markOwnChatBurned(const std::string& id);
    // 18 lower-case hex digits.
    static std::string newChatId();
    int chatUnreadTotal() const;
    std::vector<ChatMsg> chatMsgsForCurrent() const;
    std::optional<ChatConv> chatConvForCurrent() const;

    // ---- Team state ----

    // Copies the team store's facts for the views and announces the team name in team mode.
    void refreshTeamState();

    // ---- Team operations, network diagnostics and the loop-back self-test ----

    // Each binds the team store to the receive folder first. The password derivations
    // (set-up, password change, temporary password) run on a worker thread; their `done`
    // runs on the main thread afterwards (after the refresh where there is one).
    Outcome renameTeam(const std::string& name);
    void enableTeam(const std::string& title, const std::string& adminName, const std::string& pass,
                    std::function<void(Outcome)> done);
    // Blocks a member, or makes a blocked one active again; administrators and unknown ids are left alone.
    void toggleTeamBlock(const std::string& id);
    void changeAdminPassword(const std::string& oldPass, const std::string& newPass, std::function<void(Outcome)> done);
    // A new temporary password for an account; nothing is refreshed.
    void issueTemporaryPassword(const std::string& id, std::function<void(Result<std::string>)> done);
    // Approval, rejection and removal, each followed by a refresh; the store's answer is not looked at.
    void setTeamMemberStatus(const std::string& id, const std::string& status);
    void removeTeamMember(const std::string& id);
    // Binds or (empty) unbinds an address, refreshes, then answers the store's verdict.
    Outcome setTeamMemberEmail(const std::string& id, const std::string& email);
    // Stores or removes the team logo, then refreshes; a refused image is not reported.
    void saveTeamLogo(const std::string& bytes);
    void clearTeamLogo();
    // The stored logo's bytes ("" without one).
    std::string teamLogoBytes() const;
    // The mail settings of the team folder.
    MailConfig loadMailSettings() const;
    void saveMailSettings(const MailConfig& config);
    // Sends one mail through the environment's mail sender on a worker thread.
    void sendTestMail(const MailConfig& config, const std::string& to, const std::string& subject,
                      const std::string& body, std::function<void(Outcome)> done);
    // Where members open the team page: "http://<first address or 127.0.0.1>:<port>/".
    std::string teamAddress() const;

    // Runs the network checks unless a run is under way; diagLines holds the result when
    // diagRunning turns false.
    void diagnose();
    // Tests a whole round trip with the first device found and writes the report to the
    // output path; done runs on the main thread afterwards, whatever the outcome.
    void runSelfTest(const std::string& output, std::function<void()> done);

    // ---- Fixed facts and owned objects ----

    bool started() const { return started_; }
    const std::string& deviceID() const { return deviceID_; }
    const std::filesystem::path& root() const { return root_; }
    const std::shared_ptr<HTTPServer>& server() const { return server_; }
    const std::shared_ptr<Discovery>& discovery() const { return discovery_; }
    // The send queue; its changes are announced by uploaderChanged().
    Uploader& uploader() const { return *uploader_; }
    const AppEnvironment& environment() const { return env_; }

    // ---- Published values ----

    const std::string& deviceName() const { return deviceName_; }
    int port() const { return port_; }
    const std::vector<std::string>& localIPs() const { return localIPs_; }
    bool discoveryEnabled() const { return discoveryEnabled_; }
    const std::string& token() const { return token_; }
    const std::vector<Peer>& peers() const { return peers_; }
    const Target& target() const { return target_; }
    const std::map<std::string, std::string>& peerAliases() const { return peerAliases_; }
    const std::vector<std::string>& manualPeers() const { return manualPeers_; }
    const std::optional<BurnNote>& burnNote() const { return burnNote_; }
    bool burnMode() const { return burnMode_; }
    const std::set<std::string>& textTargets() const { return textTargets_; }
    const std::vector<DiagLine>& diagLines() const { return diagLines_; }
    bool diagRunning() const { return diagRunning_; }
    bool showDiag() const { return showDiag_; }
    const std::vector<FileItem>& files() const { return files_; }
    // Whether the listing of files was cut at its limit (the folder holds more).
    bool filesTruncated() const { return filesTruncated_; }
    // Why the listing holds nothing though the folder may: its storage cannot be reached or
    // is full (the server's own text, or the peer's); "" when the listing is sound.
    const std::string& filesProblem() const { return filesProblem_; }
    const std::string& searchText() const { return searchText_; }
    bool loadingFiles() const { return loadingFiles_; }
    const std::optional<std::string>& toast() const { return toast_; }
    const std::map<std::string, std::string>& peerPINs() const { return peerPINs_; }
    const std::optional<Peer>& pinPromptFor() const { return pinPromptFor_; }
    const std::string& pinInput() const { return pinInput_; }
    bool showTextSheet() const { return showTextSheet_; }
    const std::string& textInput() const { return textInput_; }
    const std::vector<ChatConv>& chatConvs() const { return chatConvs_; }
    const std::map<std::string, std::vector<ChatMsg>>& chatMsgs() const { return chatMsgs_; }
    const std::string& chatCurrent() const { return chatCurrent_; }
    bool showChat() const { return showChat_; }
    int teamPending() const { return teamPending_; }
    bool showTeam() const { return showTeam_; }
    bool teamReady() const { return teamReady_; }
    const std::vector<nlohmann::json>& teamUsers() const { return teamUsers_; }
    const std::string& teamName() const { return teamName_; }
    bool teamHasLogo() const { return teamHasLogo_; }
    int64_t teamLogoStamp() const { return teamLogoStamp_; }
    const std::string& usageMode() const { return usageMode_; }
    bool nasEnabled() const { return nasEnabled_; }
    const std::optional<Peer>& nearbyTeam() const { return nearbyTeam_; }
    const std::set<std::string>& dismissedTeamBanners() const { return dismissedTeamBanners_; }
    bool showWelcome() const { return showWelcome_; }
    bool showFeedback() const { return showFeedback_; }
    const std::vector<RecvItem>& recvTasks() const { return recvTasks_; }
    const std::string& centerID() const { return centerID_; }

    void setDeviceName(std::string value);
    void setPort(int value);
    void setLocalIPs(std::vector<std::string> value);
    void setDiscoveryEnabled(bool value);
    void setToken(std::string value);
    void setPeers(std::vector<Peer> value);
    void setTarget(Target value);
    void setPeerAliases(std::map<std::string, std::string> value);
    void setManualPeers(std::vector<std::string> value);
    void setBurnNote(std::optional<BurnNote> value);
    void setBurnMode(bool value);
    void setTextTargets(std::set<std::string> value);
    void setDiagLines(std::vector<DiagLine> value);
    void setDiagRunning(bool value);
    void setShowDiag(bool value);
    void setFiles(std::vector<FileItem> value);
    void setFilesTruncated(bool value);
    void setFilesProblem(std::string value);
    void setSearchText(std::string value);
    void setLoadingFiles(bool value);
    void setToast(std::optional<std::string> value);
    void setPeerPINs(std::map<std::string, std::string> value);
    void setPinPromptFor(std::optional<Peer> value);
    void setPinInput(std::string value);
    void setShowTextSheet(bool value);
    void setTextInput(std::string value);
    void setChatConvs(std::vector<ChatConv> value);
    void setChatMsgs(std::map<std::string, std::vector<ChatMsg>> value);
    void setChatCurrent(std::string value);
    void setShowChat(bool value);
    void setTeamPending(int value);
    void setShowTeam(bool value);
    void setTeamReady(bool value);
    void setTeamUsers(std::vector<nlohmann::json> value);
    void setTeamName(std::string value);
    void setTeamHasLogo(bool value);
    void setTeamLogoStamp(int64_t value);
    void setUsageMode(std::string value);
    void setNasEnabled(bool value);
    void setNearbyTeam(std::optional<Peer> value);
    void setDismissedTeamBanners(std::set<std::string> value);
    void setShowWelcome(bool value);
    void setShowFeedback(bool value);
    void setRecvTasks(std::vector<RecvItem> value);
    void setCenterID(std::string value);

Q_SIGNALS:
    // The send queue's task list or a task's progress changed.
    void uploaderChanged();
    void deviceNameChanged();
    void portChanged();
    void localIPsChanged();
    void discoveryEnabledChanged();
    void tokenChanged();
    void peersChanged();
    void targetChanged();
    void peerAliasesChanged();
    void manualPeersChanged();
    void burnNoteChanged();
    void burnModeChanged();
    void textTargetsChanged();
    void diagLinesChanged();
    void diagRunningChanged();
    void showDiagChanged();
    void filesChanged();
    void filesTruncatedChanged();
    void filesProblemChanged();
    void searchTextChanged();
    void loadingFilesChanged();
    void toastChanged();
    void peerPINsChanged();
    void pinPromptForChanged();
    void pinInputChanged();
    void showTextSheetChanged();
    void textInputChanged();
    void chatConvsChanged();
    void chatMsgsChanged();
    void chatCurrentChanged();
    void showChatChanged();
    void teamPendingChanged();
    void showTeamChanged();
    void teamReadyChanged();
    void teamUsersChanged();
    void teamNameChanged();
    void teamHasLogoChanged();
    void teamLogoStampChanged();
    // The team's mail settings were saved or cleared on the team page (the panel's
    // own saves go through saveMailSettings and raise nothing).
    void teamMailChanged();
    void usageModeChanged();
    void nasEnabledChanged();
    void nearbyTeamChanged();
    void dismissedTeamBannersChanged();
    void showWelcomeChanged();
    void showFeedbackChanged();
    void recvTasksChanged();
    void centerIDChanged();

private:
    void log(const std::string& line) const;
    void refreshPeerListFacts();
    void installServerCallbacks(HTTPServer& server);
    void startDiscovery();
    void pollRecvTasks();
    void handleChatEvent(const ServerEvent& event);
    void takeChatHistory(ChatHistory history);
    void moveStorageTo(const std::filesystem::path& chosen);
    void reportStorageMoveFailure(const std::string& reason);
    void applyStorageDir(const std::filesystem::path& folder);
    void loadFilesOfTarget(uint64_t generation);
    // User actions: opening a peer's file, and room for a new chat row.
    void downloadAndOpen(const FileItem& item, const Peer& peer);
    // Adds a row (and an empty history) for each id, dropping quiet offline rows first when
    // the device rows would pass their bound; whether the histories changed.
    bool addChatRows(std::vector<ChatConv>& convs, std::map<std::string, std::vector<ChatMsg>>& msgs,
                     const std::vector<std::string>& ids) const;
    // Drops the rows that make room for that many new device rows; how many went.
    size_t dropQuietChatRows(std::vector<ChatConv>& convs, std::map<std::string, std::vector<ChatMsg>>& msgs,
                             size_t coming) const;
    // Diagnostics and self-test steps that come back to the main thread.
    void finishDiagnosis(const DiagnosisFacts& facts);
    void lookForSelfTestPeer(int attempt, const std::string& output, std::function<void()> done);
    void testRoundTripWith(const Peer& peer, const std::string& output, std::function<void()> done);

    AppEnvironment env_;
    bool started_ = false;
    std::string deviceID_;
    std::filesystem::path root_;
    std::shared_ptr<HTTPServer> server_;
    std::shared_ptr<Discovery> discovery_;
    std::shared_ptr<PeerListFacts> peerListFacts_;
    std::unique_ptr<Uploader> uploader_;
    QTimer toastTimer_;
    QTimer recvPollTimer_;
    WorkerPool workers_;
    bool movingStorage_ = false;
    // User actions: only the newest file listing may write files; chat.json is
    // written only once it was read; read-once notes wait their turn.
    uint64_t filesGeneration_ = 0;
    bool chatLoaded_ = false;
    bool chatHistoryLoading_ = false;
    std::set<std::string> chatClearedWhileLoading_;
    std::deque<BurnNote> burnQueue_;

    std::string deviceName_;
    int port_ = 0;
    std::vector<std::string> localIPs_;
    bool discoveryEnabled_ = false;
    std::string token_;
    std::vector<Peer> peers_;
    Target target_;
    std::map<std::string, std::string> peerAliases_;
    std::vector<std::string> manualPeers_;
    std::optional<BurnNote> burnNote_;
    bool burnMode_ = false;
    std::set<std::string> textTargets_;
    std::vector<DiagLine> diagLines_;
    bool diagRunning_ = false;
    bool showDiag_ = false;
    std::vector<FileItem> files_;
    bool filesTruncated_ = false;
    std::string filesProblem_;
    std::string searchText_;
    bool loadingFiles_ = false;
    std::optional<std::string> toast_;
    std::map<std::string, std::string> peerPINs_;
    std::optional<Peer> pinPromptFor_;
    std::string pinInput_;
    bool showTextSheet_ = false;
    std::string textInput_;
    std::vector<ChatConv> chatConvs_;
    std::map<std::string, std::vector<ChatMsg>> chatMsgs_;
    std::string chatCurrent_ = "all";
    bool showChat_ = false;
    int teamPending_ = 0;
    bool showTeam_ = false;
    bool teamReady_ = false;
    std::vector<nlohmann::json> teamUsers_;
    std::string teamName_;
    bool teamHasLogo_ = false;
    int64_t teamLogoStamp_ = 0;
    std::string usageMode_ = "lan";
    bool nasEnabled_ = false;
    std::optional<Peer> nearbyTeam_;
    std::set<std::string> dismissedTeamBanners_;
    bool showWelcome_ = false;
    bool showFeedback_ = false;
    std::vector<RecvItem> recvTasks_;
    std::string centerID_;
};

}  // namespace corvane
