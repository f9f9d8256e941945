// Writes the application's icon into a hicolor icon theme folder, one PNG per size
// desktops use: FOLDER/<size>x<size>/apps/corvane.png.
//   corvane_icon_files FOLDER

#include <cstdio>

#include <QDir>
#include <QString>

#include "views/app_icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_icon_files FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const int size : corvane::kAppIconSizes) {
        const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(apps) || !corvane::appIconImage(size).save(apps + QStringLiteral("/corvane.png"), "PNG")) {
            std::fprintf(stderr, "corvane_icon_files: cannot write %s\n", qPrintable(apps));
            return 1;
        }
    }
    return 0;
}
