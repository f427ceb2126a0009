#include "platform/ui/scenes/UserActivity.h"

#include <QMetaType>

namespace ui {

UserActivity::UserActivity(QString activityType) : activityType_(std::move(activityType)) {}

void UserActivity::addUserInfoEntries(const QVariantMap& entries) {
    if (!userInfo_) userInfo_ = QVariantMap();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) userInfo_->insert(it.key(), it.value());
}

std::optional<QString> UserActivity::stringValue(const QVariantMap& info, const QString& key) {
    auto it = info.constFind(key);
    if (it == info.cend() || it->metaType().id() != QMetaType::QString) return std::nullopt;
    return it->toString();
}

std::optional<bool> UserActivity::boolValue(const QVariantMap& info, const QString& key) {
    auto it = info.constFind(key);
    if (it == info.cend() || it->metaType().id() != QMetaType::Bool) return std::nullopt;
    return it->toBool();
}

bool UserActivity::allValuesAreStrings(const QVariantMap& info) {
    for (auto it = info.cbegin(); it != info.cend(); ++it) {
        if (it->metaType().id() != QMetaType::QString) return false;
    }
    return true;
}

}  // namespace ui
