// What reaches a member and what comes back: bridged arguments arrive as the type the member
// declares, selectors are values, plain values answer messages as their boxes, class calls pick
// their constructor by the labels, and "new"/"copy" results belong to the wrappers.
#include <gtest/gtest.h>

#include <QPointer>
#include <set>

#include "Fixtures.h"
#include "dynamic/TypeMapping.h"

using dynamic::Dynamic;
using dynamic::Selector;
using dynamic::TypeMapping;
using fixtures::Gadget;

namespace {

class BridgingTest : public ::testing::Test {
protected:
    fixtures::RegisteredGadget reg;
    Dynamic sharedGadget() { return Dynamic::className(QStringLiteral("Gadget"))[QStringLiteral("shared")]; }
    Gadget& shared() { return reg.cls.sharedGadget; }
    Dynamic send(const QString& member, const QVariant& argument) {
        testing::internal::CaptureStdout();
        Dynamic d = sharedGadget()[member]({{QString(), argument}});
        testing::internal::GetCapturedStdout();
        return d;
    }
};

// Every row of the mapping that has a Qt type, by each type the row takes.
struct MappedCase {
    const char* member;  // declares the original type
    QVariant original;
};

std::vector<MappedCase> mappedCases() {
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1/a")));
    request.setRawHeader("X-Test", "1");
    return {
        {"takeVariantList", QVariant(QVariantList{1, QStringLiteral("b")})},
        {"takeStringList", QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")})},
        {"takeByteArrayList", QVariant::fromValue(QByteArrayList{"a", "b"})},
        {"takeJsonArray", QVariant(QJsonArray{1, QStringLiteral("b")})},
        {"takeCalendar", QVariant::fromValue(QCalendar(QCalendar::System::Julian))},
        {"takeByteArray", QVariant(QByteArray("bytes\0x", 7))},
        {"takeDateTime", QVariant(QDateTime(QDate(2024, 2, 29), QTime(12, 30), Qt::UTC))},
        {"takeDate", QVariant(QDate(2024, 2, 29))},
        {"takeVariantMap", QVariant(QVariantMap{{QStringLiteral("k"), 1}})},
        {"takeVariantHash", QVariant(QVariantHash{{QStringLiteral("k"), 1}})},
        {"takeJsonObject", QVariant(QJsonObject{{QStringLiteral("k"), 1}})},
        {"takeLocale", QVariant(QLocale(QLocale::French, QLocale::Canada))},
        {"takeStringSet", QVariant::fromValue(QSet<QString>{QStringLiteral("a"), QStringLiteral("b")})},
        {"takeIntSet", QVariant::fromValue(QSet<int>{1, 2})},
        {"takeString", QVariant(QStringLiteral("text"))},
        {"takeChar", QVariant::fromValue(QChar(u'\u00e9'))},
        {"takeTimeZone", QVariant::fromValue(QTimeZone(3600))},
        {"takeUrl", QVariant(QUrl(QStringLiteral("http://127.0.0.1/x?y=1")))},
        {"takeRequest", QVariant::fromValue(request)},
        {"takeUuid", QVariant(QUuid::createUuid())},
    };
}

TEST_F(BridgingTest, MappedArgumentsArriveAsTheDeclaredTypeOrAsTheMappedOneThroughAVariant) {
    std::set<int> rowsSeen;
    for (const MappedCase& c : mappedCases()) {
        // The row this type belongs to, and what it bridges to.
        const auto mapped = TypeMapping::convertToObjCType(c.original);
        ASSERT_TRUE(mapped) << c.member;
        for (size_t i = 0; i < TypeMapping::table().size(); ++i) {
            for (const QMetaType& m : TypeMapping::table()[i].matches) {
                if (m == c.original.metaType()) rowsSeen.insert(static_cast<int>(i));
            }
        }

        Dynamic declared = send(QString::fromLatin1(c.member), c.original);
        ASSERT_FALSE(declared.isError()) << c.member << ": " << declared.error()->localizedDescription().toStdString();
        const auto got = declared.asInferred<QVariant>();
        ASSERT_TRUE(got) << c.member;
        EXPECT_EQ(got->metaType(), c.original.metaType()) << c.member << " got " << got->typeName();
        if (c.original.metaType() == QMetaType::fromType<QCalendar>()) {
            // QCalendar has no equality the meta-type system sees: compare the calendars' names.
            EXPECT_EQ(got->value<QCalendar>().name(), c.original.value<QCalendar>().name());
        } else {
            EXPECT_EQ(*got, c.original) << c.member;
        }

        const auto viaVariant = sharedGadget()[QStringLiteral("typeOf")].call<QString>({{QString(), c.original}});
        EXPECT_EQ(viaVariant, QString::fromLatin1(mapped->typeName())) << c.member;
    }
    // Every row with a Qt type was tried.
    for (size_t i = 0; i < TypeMapping::table().size(); ++i) {
        if (!TypeMapping::table()[i].matches.empty()) {
            EXPECT_TRUE(rowsSeen.count(static_cast<int>(i))) << TypeMapping::table()[i].valueType.toStdString();
        }
    }
}

TEST_F(BridgingTest, AnArgumentWithoutAConversionIsStillRefused) {
    struct Row {
        const char* member;
        QVariant value;
    };
    const std::vector<Row> rows = {
        {"takeChar", QVariant(QStringLiteral("two"))},       // not one character
        {"takeDate", QVariant(QUrl(QStringLiteral("x")))},    // a URL is no date
        {"takeString", QVariant(5)},                           // a number is not text
        {"half", QVariant(QStringLiteral("10"))},              // nor text a number
    };
    for (const Row& r : rows) {
        Dynamic d = send(QString::fromLatin1(r.member), r.value);
        ASSERT_TRUE(d.error()) << r.member;
        EXPECT_EQ(d.error()->errorCode(), 400) << r.member;
    }
}

TEST_F(BridgingTest, SelectorsAreInternedWordsReadBySizeAndAlignment) {
    EXPECT_EQ(Selector::named(QStringLiteral("performClose:")), Selector::named(QStringLiteral("performClose:")));
    EXPECT_NE(Selector::named(QStringLiteral("a")), Selector::named(QStringLiteral("b")));
    EXPECT_TRUE(Selector().isNull());
    EXPECT_EQ(Selector().name(), QString());

    const auto action = sharedGadget()[QStringLiteral("action")].asSelector();
    ASSERT_TRUE(action);
    EXPECT_EQ(action->name(), QStringLiteral("performClose:"));
    // Eight bytes of another kind read as a selector with no name; four bytes are no selector.
    const auto fromInteger = sharedGadget()[QStringLiteral("big")].asSelector();
    ASSERT_TRUE(fromInteger);
    EXPECT_EQ(fromInteger->name(), QString());
    EXPECT_FALSE(sharedGadget()[QStringLiteral("count")].asSelector());
    // A selector travels as an argument, and a wrapped selector reads back as itself.
    EXPECT_EQ(sharedGadget()[QStringLiteral("selectorName")].call<QString>(
                  {{QString(), QVariant::fromValue(Selector::named(QStringLiteral("x:y:")))}}),
              QStringLiteral("x:y:"));
    EXPECT_EQ(Dynamic(QVariant::fromValue(Selector::named(QStringLiteral("z")))).asSelector(),
              Selector::named(QStringLiteral("z")));
}

TEST_F(BridgingTest, PlainValuesAnswerAsTheirBoxes) {
    const Dynamic text(QVariant(QStringLiteral("h\u00e9llo")));
    EXPECT_EQ(text[QStringLiteral("length")].asUInt(), 5u);
    EXPECT_EQ(text[QStringLiteral("characterAtIndex")]({{QString(), 1}}).asUInt16(), 0x00e9);
    EXPECT_EQ(text[QStringLiteral("description")].asString(), QStringLiteral("h\u00e9llo"));

    const Dynamic list(QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(list[QStringLiteral("count")].asUInt(), 2u);
    EXPECT_EQ(list[QStringLiteral("objectAtIndex")]({{QString(), 1}}).asString(), QStringLiteral("b"));
    EXPECT_EQ(list[QStringLiteral("lastObject")][QStringLiteral("length")].asUInt(), 1u);
    const Dynamic numbers(QVariant(QVariantList{7, 8.5}));
    EXPECT_EQ(numbers[QStringLiteral("objectAtIndex")]({{QString(), 0}}).asInt(), 7);
    EXPECT_EQ(numbers[QStringLiteral("objectAtIndex")]({{QString(), 1}}).asDouble(), 8.5);

    const Dynamic map(QVariant(QVariantMap{{QStringLiteral("k"), 7}, {QStringLiteral("s"), QStringLiteral("v")}}));
    EXPECT_EQ(map[QStringLiteral("count")].asUInt(), 2u);
    EXPECT_EQ(map[QStringLiteral("objectForKey")]({{QString(), QStringLiteral("k")}}).asInt(), 7);
    EXPECT_EQ(map[QStringLiteral("objectForKey")]({{QString(), QStringLiteral("s")}}).asString(), QStringLiteral("v"));
    EXPECT_FALSE(map[QStringLiteral("objectForKey")]({{QString(), QStringLiteral("none")}}).asAnyObject());

    // An index out of range is an error value, as the platform raises; an unknown member too.
    testing::internal::CaptureStdout();
    const Dynamic beyond = list[QStringLiteral("objectAtIndex")]({{QString(), 5}});
    const Dynamic unknown = text[QStringLiteral("frobnicate")];
    (void)unknown.asAnyObject();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(beyond.error());
    EXPECT_EQ(beyond.error()->errorCode(), 500);
    ASSERT_TRUE(unknown.error());
    EXPECT_EQ(unknown.error()->errorCode(), 404);
    // A number is no box: nothing is sent.
    const Dynamic number(QVariant(5));
    EXPECT_FALSE(number[QStringLiteral("count")].asInt());
    EXPECT_FALSE(number[QStringLiteral("count")].isError());
}

TEST_F(BridgingTest, ClassCallsPickTheConstructorByItsLabels) {
    Dynamic byTitle = Dynamic::className(QStringLiteral("Gadget"))(
        {{QStringLiteral("title"), QStringLiteral("t")}, {QStringLiteral("count"), 3}});
    EXPECT_EQ(byTitle[QStringLiteral("name")].asString(), QStringLiteral("gadget t"));
    Dynamic byCount = Dynamic::className(QStringLiteral("Gadget"))(
        {{QStringLiteral("count"), 4}, {QStringLiteral("title"), QStringLiteral("u")}});
    ASSERT_FALSE(byCount.isError()) << byCount.error()->localizedDescription().toStdString();
    EXPECT_EQ(byCount.invocation()->selector(), QStringLiteral("initWithCount:title:"));
    EXPECT_EQ(byCount[QStringLiteral("name")].asString(), QStringLiteral("gadget counted u"));
    EXPECT_EQ(byCount[QStringLiteral("count")].asInt32(), 4);
    // Labels no constructor has: no such selector.
    testing::internal::CaptureStdout();
    Dynamic none = Dynamic::className(QStringLiteral("Gadget"))({{QStringLiteral("colour"), 1}, {QStringLiteral("size"), 2}});
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(none.error());
    EXPECT_EQ(none.error()->errorCode(), 404);
}

TEST_F(BridgingTest, NewAndCopyResultsBelongToTheWrappersAndAreDeletedOnce) {
    QPointer<QObject> made, copied, child;
    {
        Dynamic fresh = sharedGadget()[QStringLiteral("newPartner")];
        made = fresh.asQObject();
        ASSERT_TRUE(made);
        EXPECT_TRUE(fresh.invocation()->returnsRetained());
        Dynamic name = fresh[QStringLiteral("name")];
        fresh = Dynamic::nil();
        EXPECT_TRUE(made);  // the member read still holds it
        EXPECT_EQ(name.asString(), QStringLiteral("gadget new"));

        copied = sharedGadget()[QStringLiteral("copyGadget")].asQObject();
        // An object with a parent stays its parent's.
        child = sharedGadget()[QStringLiteral("newChild")].asQObject();
        ASSERT_TRUE(child);
    }
    EXPECT_FALSE(made);
    EXPECT_FALSE(copied);
    EXPECT_TRUE(child);
    // Members without those names hand over nothing.
    auto* partner = new Gadget;
    shared().partner_ = partner;
    { (void)sharedGadget()[QStringLiteral("partner")].asQObject(); }
    EXPECT_EQ(shared().partner_, partner);
    delete partner;
}

// A subclass overriding one of the operations is reached through the others.
class CountingDynamic : public Dynamic {
public:
    explicit CountingDynamic(const Dynamic& d) : Dynamic(d) {}
    Dynamic getMember(const QString& name) const override {
        ++reads;
        return Dynamic::getMember(name);
    }
    mutable int reads = 0;
};

TEST_F(BridgingTest, OverriddenOperationsAreReachedThroughTheOthers) {
    CountingDynamic counting(sharedGadget());
    const Dynamic& plain = counting;
    EXPECT_EQ(plain[QStringLiteral("count")].asInt32(), 0);
    EXPECT_EQ(plain.member<int>(QStringLiteral("count")), 0);
    EXPECT_EQ(counting.reads, 2);
    plain.alloc();  // does nothing
}

}  // namespace
