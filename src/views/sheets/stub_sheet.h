#pragma once
// A stand-in for a sheet not built yet: its window title and size, its title
// as a heading and one button that closes it.

#include <QDialog>

namespace corvane {

struct StubSpec {
    QString title;
    int width = 0;
    int height = 0;  // 0: as tall as the content
};

class StubSheet : public QDialog {
    Q_OBJECT

public:
    StubSheet(const StubSpec& spec, QWidget* parent);
};

}  // namespace corvane
