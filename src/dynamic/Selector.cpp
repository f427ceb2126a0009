#include "dynamic/Selector.h"

#include <QHash>
#include <mutex>
#include <vector>

namespace dynamic {

namespace {
struct InternTable {
    std::mutex mutex;
    QHash<QString, uint64_t> ids;
    std::vector<QString> names;
};
InternTable& table() {
    static InternTable t;
    return t;
}
// Registered by name, so invokable members can declare and return selectors.
const int registered = qRegisterMetaType<dynamic::Selector>("dynamic::Selector");
}  // namespace

Selector Selector::named(const QString& name) {
    (void)registered;
    InternTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.ids.constFind(name);
    if (it != t.ids.constEnd()) return Selector(*it);
    t.names.push_back(name);
    const uint64_t id = t.names.size();
    t.ids.insert(name, id);
    return Selector(id);
}

QString Selector::name() const {
    if (id_ == 0) return {};
    InternTable& t = table();
    std::lock_guard lock(t.mutex);
    return id_ <= t.names.size() ? t.names[static_cast<size_t>(id_ - 1)] : QString();
}

static_assert(sizeof(Selector) == 8 && alignof(Selector) == 8, "a selector is one machine word");

}  // namespace dynamic
