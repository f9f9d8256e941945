#include "app/network_diagnosis.h"

#include "base/text_util.h"

namespace corvane {

namespace {

using Level = DiagLine::Level;

constexpr size_t manyDevices = 12;

bool inLocalSubnet(const std::string& ip, const std::vector<InterfaceAddress>& addresses) {
    for (const InterfaceAddress& entry : addresses) {
        if (HostInfo::sameSubnet(ip, entry.addr, entry.mask)) return true;
    }
    return false;
}

void addAddressLine(const DiagnosisFacts& facts, std::vector<DiagLine>& lines) {
    if (facts.addresses.empty()) {
        lines.push_back(DiagLine::make(Level::bad, "本机没有局域网地址", "先连上 Wi-Fi 或插网线"));
        return;
    }
    std::vector<std::string> entries;
    for (const InterfaceAddress& entry : facts.addresses) entries.push_back(entry.addr + "（掩码 " + entry.mask + "）");
    lines.push_back(DiagLine::make(Level::ok, "本机地址：" + joined(entries, "、")));
}

void addGatewayLine(const DiagnosisFacts& facts, std::vector<DiagLine>& lines) {
    if (!facts.gateway) return;
    const std::string router = "路由器（网关 " + *facts.gateway + "）";
    if (facts.gatewayAnswers) {
        lines.push_back(DiagLine::make(Level::ok, router + "可达"));
    } else {
        lines.push_back(DiagLine::make(Level::bad, router + "ping 不通", "网络本身有问题，先恢复上网再试"));
    }
}

void addSubnetLines(const DiagnosisFacts& facts, std::vector<DiagLine>& lines) {
    std::vector<std::string> elsewhere;
    size_t same = 0;
    for (const std::string& ip : facts.peerIPs) {
        if (inLocalSubnet(ip, facts.addresses)) {
            ++same;
        } else {
            elsewhere.push_back(ip);
        }
    }
    if (!elsewhere.empty()) {
        lines.push_back(DiagLine::make(
            Level::warn,
            "有 " + std::to_string(elsewhere.size()) + " 台设备不在同一网段（" + joined(elsewhere, "、") + "）",
            "你们中间隔了路由器。把中间那台改成 AP 模式（关 DHCP、网线插 LAN 口而不是 WAN 口），全网回到一个网段就自动互通了"));
    }
    if (!facts.peerIPs.empty()) {
        lines.push_back(DiagLine::make(Level::ok, "发现 " + std::to_string(facts.peerIPs.size()) + " 台设备，其中 " +
                                                      std::to_string(same) + " 台同网段"));
    }
}

void addNoDeviceLines(const DiagnosisFacts& facts, std::vector<DiagLine>& lines) {
    if (!facts.peerIPs.empty()) return;
    if (facts.sent >= 2 && facts.recv == 0) {
        lines.push_back(DiagLine::make(
            Level::bad, "广播发出去了，但一台同伴设备都没回应",
            "大概率是路由器开了「AP 隔离 / 无线隔离 / 客户端隔离」。登录路由器关掉这个开关；或者让一台电脑开热点，其他设备连它。也可以先用下面「手动添加设备」输 IP 试一次"));
        lines.push_back(DiagLine::make(Level::warn, "另一种可能：其他设备根本没打开Corvane",
                                       "确认每台设备都启动了 App，并允许了「本地网络」权限"));
    } else if (facts.sent <= 1) {
        lines.push_back(DiagLine::make(Level::warn, "广播次数还不够，稍等几秒再测一次"));
    }
}

}  // namespace

std::vector<InterfaceAddress> lanAddresses(const std::vector<InterfaceAddress>& all) {
    std::vector<InterfaceAddress> out;
    for (const InterfaceAddress& entry : all) {
        if (entry.addr.rfind("127.", 0) != 0) out.push_back(entry);
    }
    return out;
}

std::vector<DiagLine> diagnosisLines(const DiagnosisFacts& facts) {
    std::vector<DiagLine> lines;
    addAddressLine(facts, lines);
    addGatewayLine(facts, lines);
    lines.push_back(DiagLine::make(facts.recv < 1 ? Level::warn : Level::ok,
                                   "已发出 " + std::to_string(facts.sent) + " 次广播 · 收到 " +
                                       std::to_string(facts.recv) + " 次同伴广播"));
    addSubnetLines(facts, lines);
    addNoDeviceLines(facts, lines);
    if (facts.peerIPs.size() >= manyDevices) {
        lines.push_back(DiagLine::make(
            Level::warn, "设备数量偏多（" + std::to_string(facts.peerIPs.size()) + " 台）",
            "建议给设备起别名、常用设备置顶；超过 12 台时更推荐分成小组、各用一个中枢，而不是一个巨型中枢"));
    }
    return lines;
}

}  // namespace corvane
