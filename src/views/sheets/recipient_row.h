#pragma once
// One recipient of the send-text sheet: a check mark, the device's symbol, its
// name and a second line, drawn as one checkable button across the list, ringed
// while it has keyboard focus. The name is its accessible name and the second
// line its description.

#include <string>

#include <QAbstractButton>

namespace corvane {

class RecipientRow : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol)

public:
    static constexpr int height = 33;

    RecipientRow(const std::string& key, const QString& title, const QString& sub, const std::string& icon,
                 QWidget* parent = nullptr);

    const std::string& key() const { return key_; }
    QString title() const { return title_; }
    QString sub() const { return sub_; }
    QString symbol() const { return icon_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string key_;
    QString title_;
    QString sub_;
    QString icon_;
};

}  // namespace corvane
