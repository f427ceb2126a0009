#pragma once
// A small object runtime for the SDK: classes known by name, each with a table of instance methods
// by selector name, and messages sent by selector name through those tables. It is what lets the
// delegate forwarders replace a method of someone else's class, add one it lacks, call the one
// they replaced and restore it, with plain C++ objects.
//
// An implementation takes the receiver and the arguments as a list of values and answers a value
// (empty for no result). Classes form a single-inheritance chain; a method looked up on a class is
// found on it or on the nearest superclass that has it, as a message sent to an instance is.
#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TLMObject;

using TLMArguments = std::vector<std::any>;
using TLMImplementation = std::function<std::any(TLMObject& self, TLMArguments& arguments)>;
// An implementation as the table holds it: the same pointer compares equal to itself, so a caller
// can tell whether a method still has the implementation it installed.
using TLMIMP = std::shared_ptr<const TLMImplementation>;

// Whatever receives messages by name. Its class is the runtime class it names.
class TLMObject {
public:
    virtual ~TLMObject() = default;
    virtual std::string runtimeClassName() const = 0;
    // Whether the object answers the selector: its class (or a superclass) has the method, or the
    // object says so itself (an object that forwards what it lacks overrides this).
    virtual bool respondsToSelector(const std::string& selector) const;
};

class TLMObjectRuntime {
public:
    // Declares a class (again: changes nothing). The superclass must be declared first, or empty.
    static void registerClass(const std::string& className, const std::string& superclassName = {});
    static bool isClassRegistered(const std::string& className);
    static std::optional<std::string> superclassOf(const std::string& className);

    // The method of the class itself or its nearest superclass, with its type encoding; nothing
    // when neither has one.
    struct Method {
        std::string owner;  // the class whose table holds it
        std::string selector;
        std::string types;
        TLMIMP imp;
    };
    static std::optional<Method> classGetInstanceMethod(const std::string& className, const std::string& selector);
    // The implementation a message to an instance of the class would run, or nothing.
    static TLMIMP classGetMethodImplementation(const std::string& className, const std::string& selector);
    // Adds a method to the class's own table; false (and nothing changes) when the class already
    // has one under that selector, or the class is unknown.
    static bool classAddMethod(const std::string& className, const std::string& selector, TLMIMP imp,
                               const std::string& types);
    // Sets the implementation of a method found by classGetInstanceMethod (in its owner's table);
    // answers the previous one, or nothing when there is no such method.
    static TLMIMP methodSetImplementation(const Method& method, TLMIMP imp);
    // Drops a method from a class's own table (a method added to a class is taken away again).
    static void classRemoveMethod(const std::string& className, const std::string& selector);

    static bool instancesRespondToSelector(const std::string& className, const std::string& selector);

    // Sends a message: runs the implementation the receiver's class has for the selector. Nothing
    // (empty optional) when the class has none; the caller decides what that means.
    static std::optional<std::any> send(TLMObject& receiver, const std::string& selector, TLMArguments& arguments);

    static TLMIMP makeIMP(TLMImplementation implementation) {
        return std::make_shared<const TLMImplementation>(std::move(implementation));
    }

    // Forgets every class and method. For tests.
    static void resetForTesting();
};
