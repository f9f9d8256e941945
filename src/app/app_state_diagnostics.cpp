// Network diagnostics: why the devices do not see each other.
#include <QPointer>

#include "app/app_state.h"
#include "app/network_diagnosis.h"
#include "engine/discovery/discovery.h"

namespace corvane {

namespace {

constexpr int gatewayPingTimeoutMs = 900;

}  // namespace

void AppState::diagnose() {
    if (diagRunning_) return;
    setDiagRunning(true);
    setDiagLines({});

    DiagnosisFacts facts;
    facts.addresses = lanAddresses(env_.ipv4Addresses());

    // The gateway lookup and the ping (up to 900 ms) wait off the main thread; the
    // pause that gives discovery time to count starts once they are back.
    const QPointer<AppState> self(this);
    const std::shared_ptr<MainQueue> queue = env_.mainQueue;
    workers_.run([self, queue, facts, gateway = env_.gateway, ping = env_.ping]() mutable {
        facts.gateway = gateway();
        if (facts.gateway) facts.gatewayAnswers = ping(*facts.gateway, gatewayPingTimeoutMs);
        queue->post([self, facts] {
            if (!self) return;
            QTimer::singleShot(self->env_.delays.diagPause, Qt::PreciseTimer, self.data(), [self, facts] {
                if (self) self->finishDiagnosis(facts);
            });
        });
    });
}

void AppState::finishDiagnosis(const DiagnosisFacts& gathered) {
    DiagnosisFacts facts = gathered;
    if (discovery_) {
        const Discovery::Stats stats = discovery_->stats();
        facts.sent = stats.sent;
        facts.recv = stats.recv;
    }
    for (const Peer& peer : peers_) facts.peerIPs.push_back(peer.ip);
    setDiagLines(diagnosisLines(facts));
    setDiagRunning(false);
}

}  // namespace corvane
