#include "dynamic/TypeMapping.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QCalendar>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkRequest>
#include <QSet>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

namespace dynamic {

namespace {
template <class T>
QMetaType type() {
    return QMetaType::fromType<T>();
}

template <class T>
std::optional<QVariant> toSet(const QVariant& value) {
    if (!value.canConvert<QVariantList>()) return std::nullopt;
    QSet<T> set;
    for (const QVariant& element : value.toList()) {
        QVariant e = element;
        if (e.metaType() != type<T>() && !e.convert(type<T>())) return std::nullopt;
        set.insert(e.value<T>());
    }
    return QVariant::fromValue(set);
}
}  // namespace

const std::vector<TypeMapping::Row>& TypeMapping::table() {
    static const std::vector<Row> rows = {
        {QStringLiteral("array"), {type<QVariantList>(), type<QStringList>(), type<QByteArrayList>(), type<QJsonArray>()},
         type<QVariantList>()},
        {QStringLiteral("Calendar"), {type<QCalendar>()}, type<QCalendar>()},
        // No Qt value type is a set of characters (QRegularExpression is a pattern, not a set).
        {QStringLiteral("CharacterSet"), {}, {}},
        {QStringLiteral("Data"), {type<QByteArray>()}, type<QByteArray>()},
        // Qt keeps dates and times only whole (QDate, QTime, QDateTime): no type of loose fields.
        {QStringLiteral("DateComponents"), {}, {}},
        // Qt has no type for a span between two moments (QDeadlineTimer is a timeout).
        {QStringLiteral("DateInterval"), {}, {}},
        {QStringLiteral("Date"), {type<QDateTime>(), type<QDate>()}, type<QDateTime>()},
        // Qt has no decimal number type; numbers pass unchanged as doubles or integers.
        {QStringLiteral("Decimal"), {}, {}},
        {QStringLiteral("dictionary"), {type<QVariantMap>(), type<QVariantHash>(), type<QJsonObject>()},
         type<QVariantMap>()},
        // QModelIndex points into a live model; Qt has no value type of a path of indexes.
        {QStringLiteral("IndexPath"), {}, {}},
        // Qt has no set-of-ranges type (QItemSelection belongs to a model).
        {QStringLiteral("IndexSet"), {}, {}},
        {QStringLiteral("Locale"), {type<QLocale>()}, type<QLocale>()},
        // Qt's notifications are signals and events, neither of them a copyable value.
        {QStringLiteral("Notification"), {}, {}},
        // Qt has no type for the parts of a person's name.
        {QStringLiteral("PersonNameComponents"), {}, {}},
        {QStringLiteral("set"), {type<QSet<QString>>(), type<QSet<int>>()}, type<QVariantList>()},
        {QStringLiteral("string"), {type<QString>(), type<QChar>()}, type<QString>()},
        {QStringLiteral("TimeZone"), {type<QTimeZone>()}, type<QTimeZone>()},
        {QStringLiteral("URL"), {type<QUrl>()}, type<QUrl>()},
        // QUrl is Qt's URL and its components at once: the URL row above takes it.
        {QStringLiteral("URLComponents"), {}, {}},
        // Qt keeps query items only inside a whole QUrlQuery; no type stands for one item.
        {QStringLiteral("URLQueryItem"), {}, {}},
        {QStringLiteral("URLRequest"), {type<QNetworkRequest>()}, type<QNetworkRequest>()},
        {QStringLiteral("UUID"), {type<QUuid>()}, type<QUuid>()},
    };
    return rows;
}

std::optional<QVariant> TypeMapping::convertToObjCType(const std::optional<QVariant>& value) {
    if (!value || !value->isValid()) return std::nullopt;
    for (const Row& row : table()) {
        for (const QMetaType& m : row.matches) {
            if (value->metaType() != m) continue;
            QVariant converted = *value;
            if (converted.metaType() != row.objectType && !converted.convert(row.objectType)) return std::nullopt;
            return converted;
        }
    }
    return std::nullopt;
}

std::optional<QVariant> TypeMapping::convertToDeclaredType(const QVariant& value, QMetaType declared) {
    if (!value.isValid() || !declared.isValid()) return std::nullopt;
    if (value.metaType() == declared) return value;
    // The conversions Qt lacks: a one-character string to a character, a list to a set.
    if (declared == type<QChar>()) {
        if (value.metaType() != type<QString>()) return std::nullopt;
        const QString text = value.toString();
        if (text.size() != 1) return std::nullopt;
        return QVariant::fromValue(text.front());
    }
    if (declared == type<QSet<QString>>()) return toSet<QString>(value);
    if (declared == type<QSet<int>>()) return toSet<int>(value);
    if (!QMetaType::canConvert(value.metaType(), declared)) return std::nullopt;
    QVariant converted = value;
    if (!converted.convert(declared)) return std::nullopt;
    return converted;
}

}  // namespace dynamic
