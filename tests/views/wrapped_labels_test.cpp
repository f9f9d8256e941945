// Wrapped texts stay inside their labels: the long texts of the sidebar, the
// sheets and the team panel at the widths their windows give them, fixed texts
// and texts from data alike (a device or file name with nowhere to break it).
#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include "views/sheet.h"
#include "views/theme.h"

namespace corvane {
namespace {

struct LongText {
    const char* where;
    const char* text;
    double px;
    int width;
    Weight weight = Weight::regular;
};

// Room for text: the sidebar 252 less 2 × 8 and 2 × 10; a sheet's width less 2 × 20; the
// diagnostics rows less their icon column; the team panel 640 less its padding and boxes.
const LongText kTexts[] = {
    {"sidebar, discovery on", "同一 WiFi 下运行了Corvane的设备会自动出现在这里", 11, 216},
    {"sidebar, discovery off", "UDP 8898 端口被占用，仍可用 IP 直连", 11, 216},
    {"PIN sheet", "这台设备开启了口令保护，输入正确口令后才能浏览和发送文件。", 11.5, 300},
    {"text sheet, read once", "内容只存在对方内存里，不写磁盘、不进接收目录。对方打开一次即销毁，10 分钟未读也会销毁。", 10.5, 460},
    {"note sheet", "这条消息没有写入磁盘，服务器上的副本已删除。关闭窗口后这里也不再保留——要留下就现在复制。", 11, 480},
    {"diagnostics hint", "可能开启了「AP 隔离」：换到同一个有线网络，或在下方手动添加对方的 IP。", 10.5, 485},
    {"settings, team mode",
     "已开启：本机可作为团队中央存储。\n· NAS 网页：http://192.168.100.200:18899/web（浏览器直接访问）\n· WebDAV "
     "挂载：http://192.168.100.200:18899/dav/（用户名任意，密码 = 访问口令）\n关闭时只做点对点互传，不对外提供任何网页。",
     10, 440},
    {"update block", "点「立即更新」会自己下载替换，完成后自动重开，设置和设备/团队数据都不动。", 10, 440},
    {"PIN sheet, a device name with nowhere to break", "「ZHANGWEIWORKSTATIONMAINOFFICEBUILDING3F」需要访问口令", 13, 277,
     Weight::semibold},
    {"team panel, mail",
     "配好后，同事在网页点「忘记密码」就能收到验证码；没配也能用成员菜单里的「重置密码」手动兜底。", 10.5, 562},
    {"team panel, address", "手机连同一个 Wi-Fi 也能打开，扫右边二维码。", 10.5, 444},
    {"team panel, a notice with a file name",
     "读不出这张图片：team_logo_final_version_2024_05_11_really_final_v3_from_the_design_department.png", 12, 484,
     Weight::medium},
};

// How dark a pixel is against the window colour (0: not at all).
int darkness(const QColor& pixel) { return std::max(0, Theme::window().lightness() - pixel.lightness()); }

// Whether a glyph is cut at the label's right edge: its last column of pixels holds ink
// as dark as the strokes of the text.
bool glyphCutAtTheEdge(QLabel& label) {
    const QImage image = label.grab().toImage();
    int strongest = 0;
    int atEdge = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) strongest = std::max(strongest, darkness(image.pixelColor(x, y)));
        atEdge = std::max(atEdge, darkness(image.pixelColor(image.width() - 1, y)));
    }
    return strongest > 0 && atEdge * 2 > strongest;
}

TEST(WrappedLabels, noGlyphCrossesTheRightEdgeAtTheWidthsOfTheWindows) {
    for (const LongText& entry : kTexts) {
        std::unique_ptr<QLabel> label(
            sheetLabel(QString::fromUtf8(entry.text), entry.px, entry.weight, Theme::primary(), true));
        Theme::setBackground(label.get(), Theme::window());
        label->resize(entry.width, label->heightForWidth(entry.width));
        EXPECT_FALSE(glyphCutAtTheEdge(*label)) << entry.where;
        EXPECT_GE(label->height(), label->fontMetrics().height()) << entry.where;
    }
}

}  // namespace
}  // namespace corvane
