#include "dynamic/ClassRegistry.h"

#include <QHash>
#include <QPointer>
#include <mutex>

namespace dynamic {

namespace {
struct Entry {
    QPointer<QObject> classObject;
    const QMetaObject* instanceType = nullptr;
};

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
QHash<QString, Entry>& entries() {
    static QHash<QString, Entry> table;
    return table;
}
}  // namespace

void ClassRegistry::registerClass(const QString& name, QObject* classObject, const QMetaObject* instanceType) {
    std::lock_guard lock(registryMutex());
    entries().insert(name, Entry{classObject, instanceType});
}

void ClassRegistry::unregisterClass(const QString& name) {
    std::lock_guard lock(registryMutex());
    entries().remove(name);
}

void ClassRegistry::clearForTesting() {
    std::lock_guard lock(registryMutex());
    entries().clear();
}

QObject* ClassRegistry::classNamed(const QString& name) {
    std::lock_guard lock(registryMutex());
    auto it = entries().constFind(name);
    return it == entries().constEnd() ? nullptr : it->classObject.data();
}

bool ClassRegistry::isClass(const QObject* object) {
    if (!object) return false;
    std::lock_guard lock(registryMutex());
    for (const Entry& e : entries()) {
        if (e.classObject == object) return true;
    }
    return false;
}

const QMetaObject* ClassRegistry::instanceType(const QObject* classObject) {
    std::lock_guard lock(registryMutex());
    for (const Entry& e : entries()) {
        if (e.classObject == classObject) return e.instanceType;
    }
    return nullptr;
}

QString ClassRegistry::typeName(const QObject* object) {
    if (!object) return QStringLiteral("nil");
    {
        std::lock_guard lock(registryMutex());
        for (auto it = entries().constBegin(); it != entries().constEnd(); ++it) {
            if (it->classObject == object) return it.key();
        }
    }
    QString name = QString::fromLatin1(object->metaObject()->className());
    const qsizetype colons = name.lastIndexOf(QStringLiteral("::"));
    return colons < 0 ? name : name.mid(colons + 2);
}

}  // namespace dynamic
