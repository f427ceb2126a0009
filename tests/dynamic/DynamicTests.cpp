// The wrapper: class lookup, member chains, keyword calls, typed reads and failures carried along
// a chain, on classes registered for the test.
#include <gtest/gtest.h>

#include "Fixtures.h"

using dynamic::Dynamic;
using fixtures::Gadget;

namespace {

class DynamicTest : public ::testing::Test {
protected:
    fixtures::RegisteredGadget reg;
    Gadget& shared() { return reg.cls.sharedGadget; }
    Dynamic sharedGadget() { return Dynamic::className(QStringLiteral("Gadget"))[QStringLiteral("shared")]; }
};

TEST_F(DynamicTest, ClassLookupFindsRegisteredClassesOnly) {
    Dynamic known = Dynamic::className(QStringLiteral("Gadget"));
    EXPECT_EQ(known.asQObject(), &reg.cls);
    EXPECT_FALSE(known.isError());

    Dynamic unknown = Dynamic::className(QStringLiteral("NoSuchClass"));
    EXPECT_FALSE(unknown.object());
    EXPECT_FALSE(unknown.isError());
    testing::internal::CaptureStdout();
    Dynamic chained = unknown[QStringLiteral("shared")][QStringLiteral("name")];
    EXPECT_TRUE(chained.isSameWrapper(Dynamic::nil()));
    EXPECT_FALSE(chained.asString());
    EXPECT_FALSE(chained.asBool());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no warning for a missing class
}

TEST_F(DynamicTest, MemberChainsSendEachMemberOnceWhenNeeded) {
    Gadget partner;
    partner.setTitle(QStringLiteral("p"));
    shared().partner_ = &partner;
    Dynamic chain = sharedGadget()[QStringLiteral("partner")][QStringLiteral("name")];
    EXPECT_EQ(chain.asString(), QStringLiteral("gadget p"));
    // Reads resolve members only: ping is sent once however often the result is read.
    Dynamic ping = sharedGadget()[QStringLiteral("ping")];
    EXPECT_EQ(shared().pings, 0);
    EXPECT_FALSE(ping.asAnyObject());
    EXPECT_FALSE(ping.asValue());
    EXPECT_FALSE(ping.asInt32());
    EXPECT_EQ(shared().pings, 1);
    // A member returning no object ends the chain in the shared nil.
    EXPECT_TRUE(sharedGadget()[QStringLiteral("nobody")][QStringLiteral("name")].isSameWrapper(Dynamic::nil()));
}

TEST_F(DynamicTest, NilReadsAsAbsentEverywhere) {
    Dynamic nil = Dynamic::nil();
    EXPECT_TRUE(nil[QStringLiteral("anything")].isSameWrapper(nil));
    EXPECT_FALSE(nil.isError());
    EXPECT_FALSE(nil.asAnyObject());
    EXPECT_FALSE(nil.asObject());
    EXPECT_FALSE(nil.asString());
    EXPECT_FALSE(nil.asArray());
    EXPECT_FALSE(nil.asDictionary());
    EXPECT_FALSE(nil.asValue());
    EXPECT_FALSE(nil.asInt());
    EXPECT_FALSE(nil.asDouble());
    EXPECT_EQ(nil.debugDescription(), QStringLiteral("<nil>"));
}

TEST_F(DynamicTest, KeywordCallsWithZeroOneAndTwoArguments) {
    // Zero: the member name is the selector.
    EXPECT_EQ(sharedGadget()[QStringLiteral("count")]().asInt32(), 0);
    // One unlabelled argument: "hostFor:".
    Gadget other;
    Dynamic host = sharedGadget()[QStringLiteral("hostFor")]({{QString(), QVariant::fromValue<QObject*>(&other)}});
    EXPECT_EQ(host.invocation()->selector(), QStringLiteral("hostFor:"));
    EXPECT_EQ(host.asQObject(), &other);
    // A Dynamic argument passes its object.
    Dynamic wrapped(QVariant::fromValue<QObject*>(&other));
    EXPECT_EQ(sharedGadget()[QStringLiteral("hostFor")]({{QString(), QVariant::fromValue(wrapped)}}).asQObject(), &other);
    // Two: the first label capitalised, the next one unchanged: "join:with:".
    Dynamic joined = sharedGadget()[QStringLiteral("join")](
        {{QString(), QStringLiteral("x")}, {QStringLiteral("with"), QStringLiteral("y")}});
    EXPECT_EQ(joined.invocation()->selector(), QStringLiteral("join:with:"));
    EXPECT_EQ(joined.asString(), QStringLiteral("x+y"));
    // A number reaches a double parameter as its value.
    EXPECT_EQ(sharedGadget()[QStringLiteral("half")].call<double>({{QString(), 5}}), 2.5);
}

TEST_F(DynamicTest, SelectorNamesFollowTheLabels) {
    struct Row {
        QString member;
        Dynamic::Arguments args;
        QString selector;
    };
    const std::vector<Row> rows = {
        {QStringLiteral("hostWindowForUIWindow"), {{QString(), 1}}, QStringLiteral("hostWindowForUIWindow:")},
        {QStringLiteral("initWith"), {{QStringLiteral("timeIntervalSince1970"), 1}},
         QStringLiteral("initWithTimeIntervalSince1970:")},
        {QStringLiteral("setValue"), {{QString(), 1}, {QStringLiteral("forKey"), 2}}, QStringLiteral("setValue:forKey:")},
        {QStringLiteral("perform"), {{QStringLiteral("withObject"), 1}}, QStringLiteral("performWithObject:")},
        {QStringLiteral("name"), {}, QStringLiteral("name")},
        {QStringLiteral("a"), {{QString(), 1}, {QString(), 2}}, QStringLiteral("a::")},
    };
    for (const Row& r : rows) EXPECT_EQ(Dynamic::selectorFor(r.member, r.args), r.selector) << r.selector.toStdString();

    const std::vector<std::pair<QString, QString>> setters = {{QStringLiteral("isEnabled"), QStringLiteral("setEnabled")},
                                                              {QStringLiteral("is"), QStringLiteral("setIs")},
                                                              {QStringLiteral("isx"), QStringLiteral("setIsx")},
                                                              {QStringLiteral("title"), QStringLiteral("setTitle")}};
    for (const auto& [member, setter] : setters) EXPECT_EQ(Dynamic::setterFor(member), setter);
}

TEST_F(DynamicTest, WritingMembersSendsTheirSetters) {
    Dynamic g = sharedGadget();
    g.set(QStringLiteral("isEnabled"), QVariant(true));
    EXPECT_TRUE(shared().isEnabled());
    g.set(QStringLiteral("title"), QVariant(QStringLiteral("new")));
    EXPECT_EQ(shared().title(), QStringLiteral("new"));
    g.set(QStringLiteral("is"), QVariant(1));
    g.set(QStringLiteral("isx"), QVariant(2));
    EXPECT_EQ(shared().calls, (QStringList{QStringLiteral("setIs:1"), QStringLiteral("setIsx:2")}));
    // Properties read and write by name too.
    g.set(QStringLiteral("styleMask"), QVariant(qulonglong(7)));
    EXPECT_EQ(g.member<qulonglong>(QStringLiteral("styleMask")), 7u);
}

TEST_F(DynamicTest, ClassCallsConstructInstancesOwnedByTheWrapper) {
    QPointer<QObject> made;
    {
        Dynamic instance = Dynamic::className(QStringLiteral("Gadget"))(
            {{QStringLiteral("title"), QStringLiteral("t")}, {QStringLiteral("count"), 3}});
        EXPECT_EQ(instance.invocation()->selector(), QStringLiteral("initWithTitle:count:"));
        EXPECT_TRUE(instance.invocation()->returnsRetained());
        made = instance.asQObject();
        ASSERT_TRUE(made);
        Dynamic name = instance[QStringLiteral("name")];
        Dynamic copy = instance;
        instance = Dynamic::nil();
        EXPECT_TRUE(made);  // still held by the copy and by the member read
        EXPECT_EQ(name.asString(), QStringLiteral("gadget t"));
        EXPECT_EQ(copy[QStringLiteral("count")].asInt32(), 3);
    }
    EXPECT_FALSE(made);  // deleted with the last wrapper

    Dynamic plain = Dynamic::className(QStringLiteral("Gadget"))();
    EXPECT_EQ(plain.invocation()->selector(), QStringLiteral("init"));
    EXPECT_TRUE(qobject_cast<Gadget*>(plain.asQObject()));
}

TEST_F(DynamicTest, DeletedObjectsReadAsAbsent) {
    auto* gone = new Gadget;
    Dynamic d(QVariant::fromValue<QObject*>(gone));
    Dynamic name = d[QStringLiteral("name")];
    delete gone;
    EXPECT_FALSE(d.object());
    EXPECT_FALSE(name.asString());
    EXPECT_FALSE(d[QStringLiteral("count")].asInt32());
}

TEST_F(DynamicTest, TypedReadsByResultType) {
    Dynamic g = sharedGadget();
    struct Row {
        const char* member;
        std::function<bool(Dynamic)> check;
    };
    const std::vector<Row> rows = {
        // present
        {"count", [](Dynamic d) { return d.asInt32() == 0 && d.asUInt32() == 0u; }},
        {"big", [](Dynamic d) { return d.asInt() == 0x4000000000000000LL && d.asInt64() == 0x4000000000000000LL; }},
        {"ratio", [](Dynamic d) { return d.asDouble() == 2.5; }},
        {"flag", [](Dynamic d) { return d.asBool() == true && d.asInt8() == 1; }},
        {"frame", [](Dynamic d) { return d.asCGRect() == QRectF(1, 2, 3, 4); }},
        {"name", [](Dynamic d) { return d.asInferred<QString>() == QStringLiteral("gadget "); }},
        {"tags", [](Dynamic d) { return d.asArray() == QVariantList{QStringLiteral("a"), QStringLiteral("b")}; }},
        {"info", [](Dynamic d) { return d.asDictionary() == QVariantMap{{QStringLiteral("k"), 1}}; }},
        // wrong size or kind: absent
        {"count", [](Dynamic d) { return !d.asInt64() && !d.asInt16() && !d.asDouble(); }},
        {"big", [](Dynamic d) { return !d.asInt32(); }},
        {"name", [](Dynamic d) { return !d.asInt() && !d.asBool(); }},
        {"frame", [](Dynamic d) { return !d.asCGPoint(); }},
        // void: absent from every getter
        {"ping", [](Dynamic d) { return !d.asValue() && !d.asInt() && !d.asBool(); }},
    };
    for (const Row& r : rows) {
        EXPECT_TRUE(r.check(g[QString::fromLatin1(r.member)])) << r.member;
    }
    // Same size and alignment reinterprets the bytes, as the getters promise.
    const std::optional<double> bits = g[QStringLiteral("big")].asDouble();
    ASSERT_TRUE(bits);
    double expected;
    const qint64 raw = 0x4000000000000000LL;
    std::memcpy(&expected, &raw, sizeof expected);
    EXPECT_EQ(*bits, expected);
    // Typed member reads: a string result as a string (a notification name) or as a number.
    Dynamic cls = Dynamic::className(QStringLiteral("Gadget"));
    EXPECT_EQ(cls.member<QString>(QStringLiteral("didChangeNotification")), QStringLiteral("GadgetDidChange"));
    EXPECT_FALSE(cls.member<int>(QStringLiteral("didChangeNotification")));
    // A wrapper made around a number converts it by kind.
    Dynamic number(QVariant(42));
    EXPECT_EQ(number.asInt(), 42);
    EXPECT_EQ(number.asDouble(), 42.0);
    EXPECT_FALSE(number.asString() == QStringLiteral("x"));
}

TEST_F(DynamicTest, AnUnknownSelectorIsAnErrorCarriedAlongTheChain) {
    testing::internal::CaptureStdout();
    Dynamic bad = sharedGadget()[QStringLiteral("noSuchMember")];
    Dynamic further = bad[QStringLiteral("name")][QStringLiteral("count")];
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("WARNING: Trying to access an unrecognized member: Gadget.noSuchMember"), std::string::npos);
    EXPECT_TRUE(bad.isError());
    EXPECT_TRUE(further.isSameWrapper(bad));
    ASSERT_TRUE(bad.error());
    EXPECT_EQ(bad.error()->errorCode(), 404);
    EXPECT_EQ(dynamic::InvocationError::errorDomain(), QStringLiteral("Invocation"));
    EXPECT_EQ(bad.asString(), QStringLiteral("'Gadget' doesn't recognize selector 'noSuchMember'"));
    auto asObject = bad.asObject();
    ASSERT_TRUE(asObject);
    EXPECT_EQ(asObject->value<dynamic::DynamicError>().code, 404);
    EXPECT_FALSE(bad.asArray());
    EXPECT_FALSE(bad.asDictionary());
    EXPECT_FALSE(bad.asInt());
    EXPECT_FALSE(further.member<bool>(QStringLiteral("flag")));
}

TEST_F(DynamicTest, BadCallsAreErrorResultsNotCrashes) {
    struct Row {
        const char* what;
        std::function<Dynamic(Dynamic)> call;
        int code;
    };
    const std::vector<Row> rows = {
        {"too few arguments",
         [](Dynamic g) { return g[QStringLiteral("join")]({{QString(), QStringLiteral("x")}}); }, 404},
        {"wrong type", [](Dynamic g) { return g[QStringLiteral("half")]({{QString(), QStringLiteral("ten")}}); }, 400},
        {"wrong object class",
         [](Dynamic g) {
             static QObject plain;
             return g[QStringLiteral("takeGadget")]({{QString(), QVariant::fromValue(&plain)}});
         },
         400},
        {"absent value for a value parameter", [](Dynamic g) { return g[QStringLiteral("half")]({{QString(), std::nullopt}}); },
         400},
        {"exception inside", [](Dynamic g) { return g[QStringLiteral("boom")](); }, 500},
    };
    for (const Row& r : rows) {
        testing::internal::CaptureStdout();
        Dynamic result = r.call(sharedGadget());
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(result.isError()) << r.what;
        ASSERT_TRUE(result.error()) << r.what;
        EXPECT_EQ(result.error()->errorCode(), r.code) << r.what;
        EXPECT_FALSE(result.invocation()) << r.what;
        EXPECT_FALSE(result.asInt()) << r.what;
        EXPECT_TRUE(result[QStringLiteral("name")].isSameWrapper(result)) << r.what;
    }
    EXPECT_EQ(shared().taken, nullptr);
    // A fitting call without the trailing argument of a two-keyword selector: join: with one
    // argument does not exist, so it is an unknown selector (above); join:with: with one
    // argument given is refused before the call.
    Dynamic g = sharedGadget()[QStringLiteral("join")];
    g.resolveMember(QStringLiteral("join:with:"), {QVariant(QStringLiteral("x"))});
    ASSERT_TRUE(g.error());
    EXPECT_EQ(g.error()->kind, dynamic::InvocationError::Kind::badArguments);
    // An absent object argument is a null pointer, which the method accepts.
    Dynamic nullArg = sharedGadget()[QStringLiteral("takeGadget")]({{QString(), std::nullopt}});
    EXPECT_FALSE(nullArg.isError());
}

TEST_F(DynamicTest, DebugDescription) {
    EXPECT_EQ(Dynamic(std::nullopt).debugDescription(), QStringLiteral("<nil>"));
    EXPECT_EQ(Dynamic::className(QStringLiteral("Gadget")).debugDescription(), QStringLiteral("Gadget"));
    EXPECT_EQ(Dynamic(QVariant(QStringLiteral("text"))).debugDescription(), QStringLiteral("text"));
}

}  // namespace
