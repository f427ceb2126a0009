#include "tellium/util/TLMObjectRuntime.h"

#include <map>
#include <mutex>

namespace {

struct ClassRecord {
    std::string superclass;
    std::map<std::string, TLMObjectRuntime::Method> methods;
};

struct Runtime {
    std::mutex mutex;
    std::map<std::string, ClassRecord> classes;
};

Runtime& runtime() {
    static auto* r = new Runtime;
    return *r;
}

// Caller holds the runtime's mutex.
const TLMObjectRuntime::Method* findLocked(Runtime& r, std::string className, const std::string& selector) {
    while (!className.empty()) {
        auto cls = r.classes.find(className);
        if (cls == r.classes.end()) return nullptr;
        auto m = cls->second.methods.find(selector);
        if (m != cls->second.methods.end()) return &m->second;
        className = cls->second.superclass;
    }
    return nullptr;
}

}  // namespace

bool TLMObject::respondsToSelector(const std::string& selector) const {
    return TLMObjectRuntime::instancesRespondToSelector(runtimeClassName(), selector);
}

void TLMObjectRuntime::registerClass(const std::string& className, const std::string& superclassName) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    if (r.classes.count(className)) return;
    r.classes[className].superclass = superclassName;
}

bool TLMObjectRuntime::isClassRegistered(const std::string& className) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    return r.classes.count(className) != 0;
}

std::optional<std::string> TLMObjectRuntime::superclassOf(const std::string& className) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    auto it = r.classes.find(className);
    if (it == r.classes.end() || it->second.superclass.empty()) return std::nullopt;
    return it->second.superclass;
}

std::optional<TLMObjectRuntime::Method> TLMObjectRuntime::classGetInstanceMethod(const std::string& className,
                                                                                 const std::string& selector) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    if (const Method* m = findLocked(r, className, selector)) return *m;
    return std::nullopt;
}

TLMIMP TLMObjectRuntime::classGetMethodImplementation(const std::string& className, const std::string& selector) {
    auto m = classGetInstanceMethod(className, selector);
    return m ? m->imp : nullptr;
}

bool TLMObjectRuntime::classAddMethod(const std::string& className, const std::string& selector, TLMIMP imp,
                                      const std::string& types) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    auto cls = r.classes.find(className);
    if (cls == r.classes.end() || !imp || cls->second.methods.count(selector)) return false;
    cls->second.methods[selector] = Method{className, selector, types, std::move(imp)};
    return true;
}

TLMIMP TLMObjectRuntime::methodSetImplementation(const Method& method, TLMIMP imp) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    auto cls = r.classes.find(method.owner);
    if (cls == r.classes.end()) return nullptr;
    auto m = cls->second.methods.find(method.selector);
    if (m == cls->second.methods.end()) return nullptr;
    TLMIMP previous = std::move(m->second.imp);
    m->second.imp = std::move(imp);
    return previous;
}

void TLMObjectRuntime::classRemoveMethod(const std::string& className, const std::string& selector) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    auto cls = r.classes.find(className);
    if (cls != r.classes.end()) cls->second.methods.erase(selector);
}

bool TLMObjectRuntime::instancesRespondToSelector(const std::string& className, const std::string& selector) {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    return findLocked(r, className, selector) != nullptr;
}

std::optional<std::any> TLMObjectRuntime::send(TLMObject& receiver, const std::string& selector,
                                               TLMArguments& arguments) {
    // The implementation is taken under the lock and run outside it: it may send messages itself.
    TLMIMP imp = classGetMethodImplementation(receiver.runtimeClassName(), selector);
    if (!imp || !*imp) return std::nullopt;
    return (*imp)(receiver, arguments);
}

void TLMObjectRuntime::resetForTesting() {
    auto& r = runtime();
    std::lock_guard lock(r.mutex);
    r.classes.clear();
}
