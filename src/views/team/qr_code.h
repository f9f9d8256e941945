#pragma once
// The QR code of a text (its UTF-8 bytes in 8-bit mode, error correction M) as a
// picture with hard-edged modules on white, and the widget that shows it.

#include <string>

#include <QImage>
#include <QWidget>

namespace corvane {

// A square picture of `side` pixels with a quiet zone of two modules; a null
// image when the text cannot be encoded.
QImage qrImage(const std::string& text, int side);

// The code of a text in 92 × 92 pixels on white, padded 6, with round corners of
// radius 8; its accessible name is the text it encodes. Empty when there is no code.
class QRView : public QWidget {
    Q_OBJECT

public:
    static constexpr int codeSide = 92;
    static constexpr int pad = 6;

    explicit QRView(QWidget* parent = nullptr);
    void setText(const std::string& text);
    bool hasCode() const { return !image_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace corvane
