// One send: signature reading, the result as an object or as bytes, running once, arguments.
#include <gtest/gtest.h>

#include "Fixtures.h"

using dynamic::Invocation;
using dynamic::InvocationError;
using fixtures::Gadget;

namespace {

std::shared_ptr<Invocation> make(QObject* target, const char* selector, InvocationError* error = nullptr) {
    InvocationError ignored;
    return Invocation::create(target, QString::fromLatin1(selector), error ? error : &ignored);
}

TEST(InvocationTest, ObjectResultWithoutArguments) {
    Gadget g;
    g.setTitle(QStringLiteral("x"));
    auto inv = make(&g, "name");
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->numberOfArguments(), 2);
    EXPECT_FALSE(inv->returnedObject());  // not yet sent
    auto fresh = make(&g, "name");
    fresh->invoke();
    EXPECT_EQ(fresh->returnedObject(), QVariant(QStringLiteral("gadget x")));
    EXPECT_TRUE(fresh->returnsObject());
}

TEST(InvocationTest, ResultKinds) {
    Gadget g;
    struct Row {
        const char* selector;
        bool object;
        int length;
    };
    const Row rows[] = {{"ping", false, 0}, {"count", false, 4}, {"big", false, 8}, {"frame", false, 32},
                        {"name", true, static_cast<int>(sizeof(QString))}, {"partner", true, 8}};
    for (const Row& r : rows) {
        auto inv = make(&g, r.selector);
        ASSERT_TRUE(inv) << r.selector;
        inv->invoke();
        EXPECT_EQ(inv->returnsObject(), r.object) << r.selector;
        EXPECT_EQ(inv->returnLength(), r.length) << r.selector;
        if (!r.object) {
            EXPECT_FALSE(inv->returnedObject()) << r.selector;
        }
    }
    auto count = make(&g, "count");
    count->invoke();
    int32_t bytes = -1;
    count->getReturnValue(&bytes);
    EXPECT_EQ(bytes, 0);
}

TEST(InvocationTest, InvokingTwiceSendsOnce) {
    Gadget g;
    auto inv = make(&g, "ping");
    inv->invoke();
    inv->invoke();
    EXPECT_EQ(g.pings, 1);
    EXPECT_TRUE(inv->isInvoked());
}

TEST(InvocationTest, UnrecognizedSelector) {
    Gadget g;
    InvocationError error;
    EXPECT_FALSE(make(&g, "fly:", &error));
    EXPECT_EQ(error.kind, InvocationError::Kind::unrecognizedSelector);
    EXPECT_EQ(error.errorCode(), 404);
    EXPECT_EQ(error.localizedDescription(), QStringLiteral("'Gadget' doesn't recognize selector 'fly:'"));
    // The argument count is part of the selector.
    EXPECT_FALSE(make(&g, "name:", &error));
    EXPECT_FALSE(make(nullptr, "name", &error));
}

TEST(InvocationTest, RetainedNames) {
    Gadget g;
    fixtures::RegisteredGadget reg;
    EXPECT_TRUE(make(&reg.cls, "init")->returnsRetained());  // a constructed instance
    EXPECT_FALSE(make(&reg.cls, "shared")->returnsRetained());
    EXPECT_FALSE(make(&g, "name")->returnsRetained());
}

TEST(InvocationTest, ArgumentsAreCheckedBeforeTheCall) {
    Gadget g;
    auto half = make(&g, "half:");
    half->setArgument(QVariant(3), 2);   // an integer reaches a double parameter as its value
    half->setArgument(QVariant(9), 7);   // beyond the selector: ignored
    half->invoke();
    EXPECT_FALSE(half->failure());
    double out = 0;
    half->getReturnValue(&out);
    EXPECT_EQ(out, 1.5);

    auto missing = make(&g, "half:");
    missing->invoke();
    ASSERT_TRUE(missing->failure());
    EXPECT_EQ(missing->failure()->kind, InvocationError::Kind::badArguments);

    auto thrown = make(&g, "boom");
    thrown->invoke();
    ASSERT_TRUE(thrown->failure());
    EXPECT_EQ(thrown->failure()->kind, InvocationError::Kind::failed);
    EXPECT_TRUE(thrown->failure()->localizedDescription().contains(QStringLiteral("boom inside")));
}

}  // namespace
