#include "updater/updater.h"

#include <QPointer>
#include <QUrl>
#include <cstdlib>
#include <thread>

#include "base/cfg.h"
#include "engine/sending/curl_http.h"
#include "updater/main_thread_post.h"
#include "updater/version_compare.h"

namespace corvane {

Updater::Updater() : Updater(Options{}) {}

Updater::Updater(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    if (options_.version.empty()) options_.version = Cfg::version();
    if (options_.logFolder.empty()) options_.logFolder = Cfg::appSupport();
    completeInstallOptions(options_);
}

Updater& Updater::shared() {
    static Updater* instance = new Updater();  // lives as long as the process
    return *instance;
}

std::string Updater::manifestURL(const std::string& builtIn) {
    const char* env = std::getenv("CORVANE_MANIFEST");
    if (!env || !*env) return builtIn;
    const QUrl url(QString::fromUtf8(env), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return builtIn;
    return env;
}

const std::string& Updater::pageURL() {
    static const std::string page = "https://updates.corvane.app/corvane/";
    return page;
}

void Updater::setPhase(UpdatePhase phase) {
    phase_ = std::move(phase);
    Q_EMIT phaseChanged();
}

void Updater::log(const std::string& line) const { bootLogIn(options_.logFolder, line); }

void Updater::check(bool silent) {
    if (phase_.busy()) return;
    if (!silent) setPhase(UpdatePhase::of(UpdatePhase::Kind::checking));

    CurlRequest request;
    request.url = manifestURL(options_.builtInManifestURL);
    request.timeoutSeconds = options_.timeoutSeconds;
    request.connectTimeoutSeconds = options_.timeoutSeconds;

    // The fetch blocks for up to the time-out, so it runs off the main thread;
    // its outcome is handed back to the main thread before anything else happens.
    const QPointer<Updater> self(this);
    std::thread([self, request, silent] {
        const CurlResult result = curlPerform(request);
        postToMainThread([self, url = request.url, silent, result] {
            if (self) self->finishCheck(silent, url, result);
        });
    }).detach();
}

void Updater::finishCheck(bool silent, const std::string& url, const CurlResult& result) {
    std::optional<std::string> reason;
    std::optional<UpdateManifest> manifest;
    if (!result.ok) {
        // The boot log keeps libcurl's own text; the sheet shows the Chinese one.
        log("更新检查失败 @" + url + "：" + result.error);
        if (!silent) setPhase(UpdatePhase::failed("检查失败：" + transportErrorText(result)));
        return;
    }
    if (result.body.empty()) {
        reason = "没有返回数据";
    } else {
        manifest = UpdateManifest::decode(result.body);
        if (!manifest) reason = undecodableReason(result.body);
    }
    if (reason) {
        log("更新检查失败 @" + url + "：" + *reason);
        if (!silent) setPhase(UpdatePhase::failed("检查失败：" + *reason));
        return;
    }

    latest_ = manifest->latest;
    Q_EMIT latestChanged();
    notes_ = manifest->notes.value_or(std::vector<std::string>{});
    Q_EMIT notesChanged();
    if (isNewerVersion(manifest->latest, options_.version)) {
        entry_.reset();
        if (manifest->files) {
            const auto it = manifest->files->find(options_.platformKey);
            if (it != manifest->files->end()) entry_ = it->second;
        }
        setPhase(UpdatePhase::of(UpdatePhase::Kind::available));
    } else {
        entry_.reset();
        setPhase(UpdatePhase::of(UpdatePhase::Kind::latest));
    }
}

}  // namespace corvane
