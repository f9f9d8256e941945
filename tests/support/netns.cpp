#include "support/netns.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvane::test {

namespace {

// A new network namespace, held open by the returned descriptor (-1 on failure).
// A thread of its own enters it, so the rest of the process stays where it is.
int newNamespace() {
    int fd = -1;
    std::thread maker([&fd] {
        if (unshare(CLONE_NEWNET) != 0) return;
        fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    });
    maker.join();
    return fd;
}

std::string fdPath(int fd) { return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd); }

int exitStatus(int status) { return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

VethPair::VethPair(std::string subnet) : subnet_(std::move(subnet)) {
    static std::atomic<int> counter{0};
    // Interface names hold at most 15 characters and must differ between test processes.
    linkPrefix_ = "cv" + std::to_string(getpid() % 100000) + "x" + std::to_string(counter++ % 100);
    fdA_ = newNamespace();
    fdB_ = newNamespace();
    if (fdA_ < 0 || fdB_ < 0) return;
    const std::string create = "ip link add " + link(Side::a) + " type veth peer name " + link(Side::b) +
                               " && ip link set " + link(Side::a) + " netns " + fdPath(fdA_) + " && ip link set " +
                               link(Side::b) + " netns " + fdPath(fdB_);
    if (exitStatus(std::system(create.c_str())) != 0) return;
    for (Side side : {Side::a, Side::b}) {
        const std::string setup = "ip link set lo up && ip addr add " + address(side) + "/24 dev " + link(side) +
                                  " && ip link set " + link(side) + " up";
        if (shell(side, setup) != 0) return;
    }
    ready_ = true;
}

VethPair::~VethPair() {
    if (fdA_ >= 0) close(fdA_);
    if (fdB_ >= 0) close(fdB_);
}

std::string VethPair::address(Side side) const { return subnet_ + (side == Side::a ? ".1" : ".2"); }

std::string VethPair::link(Side side) const { return linkPrefix_ + (side == Side::a ? "a" : "b"); }

void VethPair::runIn(Side side, const std::function<void()>& fn) const {
    const int nsFD = fd(side);
    std::thread inside([nsFD, &fn] {
        if (setns(nsFD, CLONE_NEWNET) != 0) abort();  // running in the wrong namespace would reach other devices
        fn();
    });
    inside.join();
}

bool VethPair::addAddress(Side side, const std::string& address) const {
    return shell(side, "ip addr add " + address + "/24 dev " + link(side)) == 0;
}

int VethPair::shell(Side side, const std::string& command) const {
    int status = -1;
    runIn(side, [&] { status = exitStatus(std::system(command.c_str())); });
    return status;
}

}  // namespace corvane::test
