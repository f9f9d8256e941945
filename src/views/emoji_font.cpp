#include "views/emoji_font.h"

#include <cmath>

#include <QFile>
#include <QFontDatabase>
#include <QtEndian>

namespace corvane {

namespace {

// Offsets of the sfnt table directory and of CBLC's size records, as the OpenType font format lays them out.
constexpr qsizetype kTableCountAt = 4;
constexpr qsizetype kTableRecordsAt = 12;
constexpr qsizetype kTableRecordSize = 16;
constexpr qsizetype kStrikeCountAt = 4;
constexpr qsizetype kStrikesAt = 8;
constexpr qsizetype kStrikeSize = 48;
constexpr qsizetype kHoriAscenderAt = 16;
constexpr qsizetype kHoriDescenderAt = 17;
constexpr qsizetype kPpemYAt = 45;

struct Table {
    qsizetype offset = 0;
    qsizetype length = 0;
};

quint32 readU32(const QByteArray& bytes, qsizetype at) {
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(bytes.constData()) + at);
}

quint16 readU16(const QByteArray& bytes, qsizetype at) {
    return qFromBigEndian<quint16>(reinterpret_cast<const uchar*>(bytes.constData()) + at);
}

std::optional<Table> findTable(const QByteArray& font, const char (&tag)[5]) {
    if (font.size() < kTableRecordsAt) return std::nullopt;
    const int count = readU16(font, kTableCountAt);
    for (int k = 0; k < count; ++k) {
        const qsizetype record = kTableRecordsAt + k * kTableRecordSize;
        if (record + kTableRecordSize > font.size()) return std::nullopt;
        if (font.mid(record, 4) != QByteArray(tag, 4)) continue;
        const Table table{qsizetype(readU32(font, record + 8)), qsizetype(readU32(font, record + 12))};
        if (table.offset + table.length > font.size()) return std::nullopt;
        return table;
    }
    return std::nullopt;
}

// One strike's line set to its em, ascender and descender keeping their share.
bool setLineToEm(QByteArray& font, qsizetype strike) {
    const int ascender = qint8(font[strike + kHoriAscenderAt]);
    const int descender = qint8(font[strike + kHoriDescenderAt]);
    const int em = quint8(font[strike + kPpemYAt]);
    const int line = ascender - descender;
    if (em <= 0 || line <= 0 || line == em) return false;
    const int newAscender = int(std::lround(double(ascender) * em / line));
    const int newDescender = newAscender - em;
    if (newAscender > 127 || newDescender < -128) return false;
    font[strike + kHoriAscenderAt] = char(qint8(newAscender));
    font[strike + kHoriDescenderAt] = char(qint8(newDescender));
    return true;
}

}  // namespace

std::optional<QByteArray> emojiStrikesAtEmHeight(QByteArray font) {
    const std::optional<Table> cblc = findTable(font, "CBLC");
    if (!cblc || cblc->length < kStrikesAt) return std::nullopt;
    const quint32 strikes = readU32(font, cblc->offset + kStrikeCountAt);
    bool changed = false;
    for (quint32 k = 0; k < strikes; ++k) {
        const qsizetype strike = cblc->offset + kStrikesAt + qsizetype(k) * kStrikeSize;
        if (strike + kStrikeSize > cblc->offset + cblc->length) return std::nullopt;
        changed = setLineToEm(font, strike) || changed;
    }
    if (!changed) return std::nullopt;
    return font;
}

bool registerEmojiAtEmSize(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const std::optional<QByteArray> font = emojiStrikesAtEmHeight(file.readAll());
    if (!font) return false;
    return QFontDatabase::addApplicationFontFromData(*font) >= 0;
}

}  // namespace corvane
