#include "storage/team_user.h"

#include <cmath>

#include "base/json_fields.h"
#include "base/unicode_text.h"
#include "storage/team_password.h"

namespace corvane {

std::string TeamUser::maskedEmail() const {
    const size_t at = email.find('@');
    if (at == std::string::npos) return "";
    const std::string local = email.substr(0, at);
    const size_t keep = graphemeCount(local) > 2 ? 2 : 1;
    return graphemePrefix(local, keep) + "***" + email.substr(at);
}

nlohmann::json TeamUser::publicDict() const {
    return nlohmann::json{
        {"id", id},
        {"user", user},
        {"name", name},
        {"role", role},
        {"status", status},
        {"note", note},
        {"created", created},
        {"approvedAt", approvedAt},
        {"lastLogin", lastLogin},
        {"email", maskedEmail()},
        {"hasEmail", !email.empty()},
    };
}

nlohmann::json TeamUser::toJSON() const {
    return nlohmann::json{
        {"id", id},          {"user", user},       {"name", name},           {"salt", salt},
        {"hash", hash},      {"iter", iter},       {"role", role},           {"status", status},
        {"created", created}, {"approvedAt", approvedAt}, {"lastLogin", lastLogin}, {"note", note},
        {"email", email},
    };
}

// Times that are not finite numbers would be written as null; they read as 0.
static double finiteOrZero(double value) { return std::isfinite(value) ? value : 0; }

static std::string nonEmptyOr(const std::optional<std::string>& value, const char* fallback) {
    return value && !value->empty() ? *value : fallback;
}

TeamUser TeamUser::fromJSON(const nlohmann::json& obj) {
    const Fields f(obj);
    TeamUser u;
    u.id = f.s("id").value_or("");
    u.user = f.s("user").value_or("");
    u.name = f.s("name").value_or("");
    u.salt = f.s("salt").value_or("");
    u.hash = f.s("hash").value_or("");
    u.note = f.s("note").value_or("");
    u.email = f.s("email").value_or("");
    u.iter = f.i("iter");
    if (u.iter < 1) u.iter = teamPasswordRounds;
    u.role = nonEmptyOr(f.s("role"), "member");
    u.status = nonEmptyOr(f.s("status"), "pending");
    u.created = finiteOrZero(f.d("created"));
    u.approvedAt = finiteOrZero(f.d("approvedAt"));
    u.lastLogin = finiteOrZero(f.d("lastLogin"));
    return u;
}

}  // namespace corvane
