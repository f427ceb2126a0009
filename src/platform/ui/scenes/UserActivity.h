#pragma once
// A user activity: what a window is asked for. Its type names the kind of window and its user
// info carries what the window needs. Readers of the user info check value types exactly: a
// Boolean given as text is not a Boolean.
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

namespace ui {

class UserActivity {
public:
    explicit UserActivity(QString activityType);

    const QString& activityType() const { return activityType_; }

    // No user info until entries are added.
    const std::optional<QVariantMap>& userInfo() const { return userInfo_; }
    void setUserInfo(std::optional<QVariantMap> userInfo) { userInfo_ = std::move(userInfo); }
    // Merges the entries into the user info (creating it); later entries replace earlier ones.
    void addUserInfoEntries(const QVariantMap& entries);

    // Exact-type reads of one entry: nothing when the key is missing or its value has another type.
    static std::optional<QString> stringValue(const QVariantMap& info, const QString& key);
    static std::optional<bool> boolValue(const QVariantMap& info, const QString& key);
    // True when every value of the map is text (keys always are).
    static bool allValuesAreStrings(const QVariantMap& info);

private:
    QString activityType_;
    std::optional<QVariantMap> userInfo_;
};

}  // namespace ui
