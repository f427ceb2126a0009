#pragma once
// The class registry: a class name maps to a class object, a QObject whose invokable methods and
// properties are the class-level members. A class may name the meta-object of its instances,
// whose invokable constructors answer the class's init selectors. Only classes registered by
// name can be reached; everything else reads as absent.
#include <QMetaObject>
#include <QObject>
#include <QString>

namespace dynamic {

class ClassRegistry {
public:
    // Registers (or replaces) a class. The registry does not own the class object; a deleted
    // class object reads as absent.
    static void registerClass(const QString& name, QObject* classObject, const QMetaObject* instanceType = nullptr);
    static void unregisterClass(const QString& name);
    static void clearForTesting();

    // The class object for a name, or null when no such class is registered.
    static QObject* classNamed(const QString& name);
    // Whether an object is a registered class object, and what its instances are.
    static bool isClass(const QObject* object);
    static const QMetaObject* instanceType(const QObject* classObject);
    // The unqualified type name used in traces and messages: a class's registered name, an
    // instance's class name without its namespace.
    static QString typeName(const QObject* object);
};

}  // namespace dynamic
