#include "views/text_metrics.h"

#include <cmath>

#include <QList>

#include "base/unicode_text.h"

namespace corvane {

namespace {

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isBlank(char32_t c) { return c == '\t' || QChar::category(c) == QChar::Separator_Space; }

}  // namespace

int64_t characterCount(std::string_view utf8) { return int64_t(graphemeCount(utf8)); }

int64_t lineCount(std::string_view utf8) {
    int64_t lines = 1;
    for (const char32_t c : QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toUcs4()) {
        if (isNewline(c)) ++lines;
    }
    return lines;
}

QString trimSpaceSeparators(const QString& text) {
    const QList<uint> chars = text.toUcs4();
    qsizetype first = 0;
    qsizetype end = chars.size();
    while (first < end && isBlank(chars[first])) ++first;
    while (end > first && isBlank(chars[end - 1])) --end;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()) + first, end - first);
}

int64_t wholePercent(double fraction) {
    if (!std::isfinite(fraction)) return 0;
    return int64_t(std::trunc(fraction * 100.0));
}

QString counterText(std::string_view utf8) {
    return QString::number(characterCount(utf8)) + QStringLiteral(" 字 · ") + QString::number(lineCount(utf8)) +
           QStringLiteral(" 行");
}

QString sizeLineText(std::string_view utf8) {
    return QString::number(lineCount(utf8)) + QStringLiteral(" 行 · ") + QString::number(qlonglong(utf8.size())) +
           QStringLiteral(" 字节");
}

}  // namespace corvane
