#include "dynamic/TypeMapping.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

namespace dynamic {

const std::vector<TypeMapping::Row>& TypeMapping::table() {
    static const std::vector<Row> rows = [] {
        auto t = [](auto* tag) { return QMetaType::fromType<std::remove_pointer_t<decltype(tag)>>(); };
        std::vector<Row> r;
        r.push_back({QStringLiteral("array"),
                     {t((QVariantList*)nullptr), t((QStringList*)nullptr), t((QByteArrayList*)nullptr)},
                     t((QVariantList*)nullptr)});
        r.push_back({QStringLiteral("Calendar"), {}, {}});
        r.push_back({QStringLiteral("CharacterSet"), {}, {}});
        r.push_back({QStringLiteral("Data"), {t((QByteArray*)nullptr)}, t((QByteArray*)nullptr)});
        r.push_back({QStringLiteral("DateComponents"), {}, {}});
        r.push_back({QStringLiteral("DateInterval"), {}, {}});
        r.push_back({QStringLiteral("Date"), {t((QDateTime*)nullptr), t((QDate*)nullptr)}, t((QDateTime*)nullptr)});
        r.push_back({QStringLiteral("Decimal"), {}, {}});
        r.push_back({QStringLiteral("dictionary"), {t((QVariantMap*)nullptr), t((QVariantHash*)nullptr)},
                     t((QVariantMap*)nullptr)});
        r.push_back({QStringLiteral("IndexPath"), {}, {}});
        r.push_back({QStringLiteral("IndexSet"), {}, {}});
        r.push_back({QStringLiteral("Locale"), {t((QLocale*)nullptr)}, t((QLocale*)nullptr)});
        r.push_back({QStringLiteral("Notification"), {}, {}});
        r.push_back({QStringLiteral("PersonNameComponents"), {}, {}});
        r.push_back({QStringLiteral("set"), {}, {}});
        r.push_back({QStringLiteral("string"), {t((QString*)nullptr), t((QChar*)nullptr)}, t((QString*)nullptr)});
        r.push_back({QStringLiteral("TimeZone"), {t((QTimeZone*)nullptr)}, t((QTimeZone*)nullptr)});
        r.push_back({QStringLiteral("URL"), {t((QUrl*)nullptr)}, t((QUrl*)nullptr)});
        r.push_back({QStringLiteral("URLComponents"), {}, {}});
        r.push_back({QStringLiteral("URLQueryItem"), {}, {}});
        r.push_back({QStringLiteral("URLRequest"), {}, {}});
        r.push_back({QStringLiteral("UUID"), {t((QUuid*)nullptr)}, t((QUuid*)nullptr)});
        return r;
    }();
    return rows;
}

std::optional<QVariant> TypeMapping::convertToObjCType(const std::optional<QVariant>& value) {
    if (!value || !value->isValid()) return std::nullopt;
    for (const Row& row : table()) {
        for (const QMetaType& m : row.matches) {
            if (value->metaType() != m) continue;
            QVariant converted = *value;
            if (!converted.convert(row.objectType)) return std::nullopt;
            return converted;
        }
    }
    return std::nullopt;
}

}  // namespace dynamic
