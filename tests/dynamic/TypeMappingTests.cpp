// Value types bridged to the form object-taking members expect; other values pass unchanged.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QPointF>
#include <QUrl>
#include <QUuid>

#include "Fixtures.h"
#include "dynamic/TypeMapping.h"

using dynamic::Dynamic;
using dynamic::TypeMapping;

namespace {

TEST(TypeMappingTest, TableHasItsRowsInOrder) {
    const auto& rows = TypeMapping::table();
    ASSERT_EQ(rows.size(), 22u);
    EXPECT_EQ(rows.front().valueType, QStringLiteral("array"));
    EXPECT_EQ(rows[15].valueType, QStringLiteral("string"));
    EXPECT_EQ(rows.back().valueType, QStringLiteral("UUID"));
    // The rows without a Qt value type (each says why beside it in the table).
    QStringList empty;
    for (const auto& row : rows) {
        if (row.matches.empty()) empty << row.valueType;
        else EXPECT_TRUE(row.objectType.isValid()) << row.valueType.toStdString();
    }
    EXPECT_EQ(empty, (QStringList{"CharacterSet", "DateComponents", "DateInterval", "Decimal", "IndexPath", "IndexSet",
                                  "Notification", "PersonNameComponents", "URLComponents", "URLQueryItem"}));
}

TEST(TypeMappingTest, ConvertsValueTypesOnly) {
    struct Row {
        const char* what;
        std::optional<QVariant> in;
        std::optional<QMetaType> out;
    };
    const std::vector<Row> rows = {
        {"string", QVariant(QStringLiteral("s")), QMetaType::fromType<QString>()},
        {"list of strings", QVariant(QStringList{QStringLiteral("a")}), QMetaType::fromType<QVariantList>()},
        {"url", QVariant(QUrl(QStringLiteral("http://127.0.0.1/"))), QMetaType::fromType<QUrl>()},
        {"date", QVariant(QDate(2020, 1, 2)), QMetaType::fromType<QDateTime>()},
        {"hash", QVariant(QVariantHash{{QStringLiteral("k"), 1}}), QMetaType::fromType<QVariantMap>()},
        {"uuid", QVariant(QUuid::createUuid()), QMetaType::fromType<QUuid>()},
        {"calendar", QVariant::fromValue(QCalendar()), QMetaType::fromType<QCalendar>()},
        {"set", QVariant::fromValue(QSet<QString>{QStringLiteral("a")}), QMetaType::fromType<QVariantList>()},
        {"url request", QVariant::fromValue(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1/")))),
         QMetaType::fromType<QNetworkRequest>()},
        {"json object", QVariant(QJsonObject{{QStringLiteral("k"), 1}}), QMetaType::fromType<QVariantMap>()},
        {"character", QVariant::fromValue(QChar(u'x')), QMetaType::fromType<QString>()},
        {"integer", QVariant(5), std::nullopt},
        {"boolean", QVariant(true), std::nullopt},
        {"rectangle", QVariant(QRectF(0, 0, 1, 1)), std::nullopt},
        {"point", QVariant(QPointF(1, 1)), std::nullopt},
        {"absent", std::nullopt, std::nullopt},
    };
    for (const Row& r : rows) {
        const auto got = TypeMapping::convertToObjCType(r.in);
        ASSERT_EQ(got.has_value(), r.out.has_value()) << r.what;
        if (got) {
            EXPECT_EQ(got->metaType(), *r.out) << r.what;
        }
    }
    EXPECT_EQ(TypeMapping::convertToObjCType(QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}))->toList(),
              (QVariantList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST(TypeMappingTest, ArgumentsReachMethodsInTheirMappedForm) {
    fixtures::RegisteredGadget reg;
    Dynamic g = Dynamic::className(QStringLiteral("Gadget"))[QStringLiteral("shared")];
    auto typeOf = [&](const QVariant& v) { return g[QStringLiteral("typeOf")].call<QString>({{QString(), v}}); };
    EXPECT_EQ(typeOf(QVariant(QStringList{QStringLiteral("a")})), QStringLiteral("QVariantList"));
    EXPECT_EQ(typeOf(QVariant(QStringLiteral("s"))), QStringLiteral("QString"));
    EXPECT_EQ(typeOf(QVariant(5)), QStringLiteral("int"));  // unchanged
}

}  // namespace
