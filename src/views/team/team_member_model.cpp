#include "views/team/team_member_model.h"

#include <algorithm>

namespace corvane {

using nlohmann::json;

namespace {

const char* statusOf(TeamMemberModel::Kind kind) {
    switch (kind) {
        case TeamMemberModel::Kind::pending: return "pending";
        case TeamMemberModel::Kind::active: return "active";
        case TeamMemberModel::Kind::blocked: return "blocked";
    }
    return "";
}

}  // namespace

std::string memberText(const json& user, const char* key, const std::string& fallback) {
    const auto found = user.find(key);
    if (found == user.end() || !found->is_string()) return fallback;
    return found->get<std::string>();
}

std::string memberLabel(const json& user, const std::string& fallback) {
    const std::string name = memberText(user, "name");
    if (!name.empty()) return name;
    return memberText(user, "user", fallback);
}

TeamMemberModel::TeamMemberModel(Kind kind, QObject* parent) : QAbstractListModel(parent), kind_(kind) {}

void TeamMemberModel::show(const std::vector<json>& users, const std::set<std::string>& resetting) {
    std::vector<Row> rows;
    for (const json& user : users) {
        if (memberText(user, "status") != statusOf(kind_)) continue;
        rows.push_back({user, resetting.count(memberText(user, "id")) > 0});
    }
    if (rows == rows_) return;
    // The same accounts in the same places (a name, an e-mail or a reset changed): the rows
    // change in place, and the one holding the keys is not told anew to a screen reader.
    const auto sameAccount = [](const Row& a, const Row& b) { return memberText(a.user, "id") == memberText(b.user, "id"); };
    if (std::equal(rows.begin(), rows.end(), rows_.begin(), rows_.end(), sameAccount)) {
        for (size_t k = 0; k < rows.size(); ++k) {
            if (rows[k] == rows_[k]) continue;
            rows_[k] = std::move(rows[k]);
            Q_EMIT dataChanged(index(int(k)), index(int(k)));
        }
        return;
    }
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

bool TeamMemberModel::admin(int row) const { return memberText(user(row), "role") == "admin"; }

int TeamMemberModel::rowOf(const std::string& id) const {
    for (size_t k = 0; k < rows_.size(); ++k) {
        if (memberText(rows_[k].user, "id") == id) return int(k);
    }
    return -1;
}

int TeamMemberModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QString TeamMemberModel::detail(const Row& row) const {
    const std::string login = "@" + memberText(row.user, "user");
    switch (kind_) {
        case Kind::pending: {
            const std::string note = memberText(row.user, "note");
            return QString::fromStdString(note.empty() ? login : login + " · " + note);
        }
        case Kind::active: {
            const std::string email = memberText(row.user, "email");
            return QString::fromStdString(login + (email.empty() ? " · 未绑邮箱" : " · " + email));
        }
        case Kind::blocked: return {};
    }
    return {};
}

QVariant TeamMemberModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(memberLabel(row.user, ""));
        case detailRole: return detail(row);
        case Qt::AccessibleTextRole: {
            QStringList texts{QString::fromStdString(memberLabel(row.user, ""))};
            if (admin(index.row())) texts << QStringLiteral("管理员");
            if (const QString second = detail(row); !second.isEmpty()) texts << second;
            return texts.join(QStringLiteral(" · "));
        }
        default: return {};
    }
}

}  // namespace corvane
