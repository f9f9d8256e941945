// Labels of fixed texts are measured once per text and font, and measure as
// plain labels do: a 🔥 at 9 px never takes the size of one at 11 px.
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "views/controls.h"
#include "views/theme.h"

namespace corvane {
namespace {

TEST(FixedTextLabel, measuresAsAPlainLabelOfTheSameTextAndFont) {
    const std::tuple<const char*, double, bool> cases[] = {
        {"🔥", 9, false}, {"🔥", 11, false}, {"🔥", 11, true}, {"发送失败", 9.5, false}, {"发送失败", 12, false},
    };
    for (const auto& [text, px, italic] : cases) {
        std::unique_ptr<QLabel> plain(textLabel(QString::fromUtf8(text), px, Theme::primary(), nullptr));
        std::unique_ptr<QLabel> fixed(fixedTextLabel(QString::fromUtf8(text), px, Theme::primary(), nullptr));
        QFont font = plain->font();
        font.setItalic(italic);
        plain->setFont(font);
        fixed->setFont(font);
        EXPECT_EQ(fixed->sizeHint(), plain->sizeHint()) << text << " at " << px;
        EXPECT_EQ(fixed->minimumSizeHint(), plain->minimumSizeHint()) << text << " at " << px;
    }
}

}  // namespace
}  // namespace corvane
