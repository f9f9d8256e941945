#pragma once
// Colour emoji at the size of the text around them. The colour emoji font
// (Noto Color Emoji) is a bitmap font: one strike of 109 px per em on a line of
// 128 px. Qt scales such a strike by its line height rather than its em, so
// every emoji came out at 109/128 of its designed size, visibly smaller than
// the Chinese text beside it. A copy of the font whose strike lines are one em
// high is registered under the same family name, where it replaces the
// system's copy, so every label, field and painted text draws emoji at their
// designed size without knowing about it.

#include <optional>

#include <QByteArray>
#include <QString>

namespace corvane {

// Where Debian's fonts-noto-color-emoji puts the font.
inline constexpr const char* systemEmojiFontPath = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

// The font file with the line of each colour bitmap strike (ascender to
// descender, CBLC) set to one em, divided as before; nothing when the bytes are
// no font with such strikes.
std::optional<QByteArray> emojiStrikesAtEmHeight(QByteArray font);

// Registers that copy of the font file at the path with the application's
// fonts; false (and nothing changes) when it cannot be read or has no strikes.
// Called before any text is laid out.
bool registerEmojiAtEmSize(const QString& path = QString::fromLatin1(systemEmojiFontPath));

}  // namespace corvane
