#include "views/main/file_list_model.h"

#include <QDateTime>

#include "engine/format.h"
#include "views/main/relative_time.h"

namespace corvane {

FileListModel::FileListModel(QObject* parent) : QAbstractListModel(parent) {}

namespace {

bool samePaths(const std::vector<FileItem>& a, const std::vector<FileItem>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].path != b[k].path) return false;
    }
    return true;
}

}  // namespace

void FileListModel::setFiles(std::vector<FileItem> files, bool remote) {
    if (remote == remote_ && samePaths(files, files_)) {
        // Same rows: only those whose values changed are announced.
        for (size_t k = 0; k < files.size(); ++k) {
            if (files[k] == files_[k]) continue;
            files_[k] = std::move(files[k]);
            const QModelIndex changed = index(int(k));
            Q_EMIT dataChanged(changed, changed);
        }
        return;
    }
    beginResetModel();
    files_ = std::move(files);
    remote_ = remote;
    endResetModel();
}

QString FileListModel::toolTip(const FileItem& item, bool remote) {
    return QString::fromStdString(item.path) +
           (remote ? QStringLiteral("\n双击：下载并打开") : QStringLiteral("\n双击：用默认程序打开"));
}

QString FileListModel::age(const FileItem& item) {
    return QString::fromStdString(relativeTime(item.mtime, double(QDateTime::currentMSecsSinceEpoch())));
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(files_.size()); }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const FileItem& file = files_[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(file.name);
        case Qt::AccessibleTextRole: {
            QStringList texts{QString::fromStdString(file.name)};
            if (const std::string folder = file.folder(); !folder.empty()) texts << QString::fromStdString(folder);
            texts << QString::fromStdString(humanSize(file.size)) << age(file);
            return texts.join(QStringLiteral(" · "));
        }
        case Qt::ToolTipRole: return toolTip(file, remote_);
        default: return {};
    }
}

}  // namespace corvane
