// The symbol table: both fonts are installed, every entry has a glyph, and
// every name a view can ask for is in the table (the literals the views pass
// to the lookup, the model's device and file icons, the chat rows' icons).
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include "views/views_fixture.h"
#include "views/symbols.h"
#include "views/theme.h"

namespace corvane {
namespace {

using test::ViewsTest;

std::set<std::string> tableNames() {
    const std::vector<std::string> names = Symbols::names();
    return {names.begin(), names.end()};
}

// The string literals given to the symbol lookups anywhere under src/views.
std::set<std::string> namesUsedInViews() {
    const std::regex use(R"re((?:SymbolLabel|SymbolButton|SymbolTextButton|SwitchBox|Symbols::glyph|Symbols::codePoint|Symbols::icon|setSymbol)\s*\(\s*"([^"]+)")re");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(CORVANE_SOURCE_DIR "/src/views")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        const std::string source = text.str();
        for (auto it = std::sregex_iterator(source.begin(), source.end(), use); it != std::sregex_iterator(); ++it) {
            names.insert((*it)[1].str());
        }
    }
    return names;
}

TEST(Symbols, bothFontFamiliesAreInstalledAndUsed) {
    const QStringList families = QFontDatabase::families();
    EXPECT_TRUE(families.contains(Symbols::family)) << "fonts-material-design-icons-iconfont";
    EXPECT_TRUE(families.contains(Theme::fontFamily)) << "fonts-noto-cjk";
    EXPECT_EQ(QFontInfo(Symbols::font(12)).family(), Symbols::family);
    EXPECT_EQ(QFontInfo(Theme::font(12)).family(), Theme::fontFamily);
}

TEST(Symbols, everyEntryHasAGlyphInTheIconFont) {
    const QFontMetrics metrics(Symbols::font(14));
    ASSERT_EQ(tableNames().size(), Symbols::names().size()) << "a name is listed twice";
    for (const std::string& name : Symbols::names()) {
        const auto code = Symbols::codePoint(name);
        ASSERT_TRUE(code.has_value()) << name;
        EXPECT_TRUE(metrics.inFontUcs4(uint(*code))) << name << " U+" << std::hex << uint32_t(*code);
        EXPECT_EQ(Symbols::glyph(name).toUcs4(), QList<uint>({uint(*code)})) << name;
    }
    EXPECT_FALSE(Symbols::codePoint("no.such.symbol"));
    EXPECT_TRUE(Symbols::glyph("no.such.symbol").isEmpty());
}

TEST(Symbols, everyNameTheViewsAskForIsInTheTable) {
    const std::set<std::string> table = tableNames();
    const std::set<std::string> used = namesUsedInViews();
    EXPECT_TRUE(used.count("person.2.circle.fill") && used.count("xmark")) << "the source scan found too little";
    for (const std::string& name : used) EXPECT_TRUE(table.count(name)) << "src/views asks for " << name;
}

TEST(Symbols, everyDeviceAndFileIconOfTheModelIsInTheTable) {
    const std::set<std::string> table = tableNames();
    for (const char* plat : {"darwin", "win32", "windows", "linux", "android", "manual", "", "Darwin", "ios"}) {
        Peer peer;
        peer.plat = plat;
        EXPECT_TRUE(table.count(peer.platformIcon())) << plat << " → " << peer.platformIcon();
    }
    for (const char* ext : {"jpg", "jpeg", "png", "gif", "webp", "heic", "bmp", "tiff", "mp4", "mov", "m4v", "webm",
                            "mkv", "avi", "txt", "md", "json", "log", "csv", "swift", "js", "css", "html", "pdf", "zip",
                            "rar", "7z", "tar", "gz", "mp3", "wav", "m4a", "flac", "xlsx", "xls", "docx", "doc", "pptx",
                            "ppt", "exe", "dmg", "apk", "JPG", "unknown", ""}) {
        FileItem item;
        item.name = std::string("file.") + ext;
        EXPECT_TRUE(table.count(item.icon())) << item.name << " → " << item.icon();
    }
}

class SymbolsChat : public ViewsTest {};

TEST_F(SymbolsChat, everyChatRowIconIsInTheTable) {
    state->setPeers({test::viewPeer("p-mac", "Mac"), [] {
                         Peer win = test::viewPeer("p-win", "Win");
                         win.plat = "windows";
                         return win;
                     }()});
    state->ensureConv("all");
    state->ensureConv("p-mac");
    state->ensureConv("p-win");
    state->ensureConv("gone-device");
    const std::set<std::string> table = tableNames();
    ASSERT_GE(state->chatConvs().size(), 4u);
    for (const ChatConv& conv : state->chatConvs()) EXPECT_TRUE(table.count(conv.icon)) << conv.id << " → " << conv.icon;
}

TEST(Theme, pixelSizesBecomePointsAtTheScreensDpiAndColoursMultiplyOpacity) {
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
    EXPECT_DOUBLE_EQ(Theme::pointSize(12.5), 12.5 * 72 / dpi);
    EXPECT_NEAR(QFontInfo(Theme::font(20)).pixelSize(), 20, 1);
    EXPECT_NEAR(Theme::primary().alphaF(), 0.85, 0.01);
    EXPECT_NEAR(Theme::primary(0.1).alphaF(), 0.085, 0.01);
    EXPECT_NEAR(Theme::tertiary().alphaF(), 0.26, 0.01);
    EXPECT_EQ(Theme::tint(Tint::orange, 0.1).rgb(), QColor("#FF9500").rgb());
    EXPECT_NEAR(Theme::tint(Tint::orange, 0.1).alphaF(), 0.1, 0.01);
    EXPECT_EQ(Theme::window(), QColor("#ECECEC"));
    EXPECT_EQ(Theme::tint(Tint::accent), QColor("#007AFF"));
}

}  // namespace
}  // namespace corvane
