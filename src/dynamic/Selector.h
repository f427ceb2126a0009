#pragma once
// A selector value: the interned name of a message ("hostWindowForUIWindow:"), eight bytes wide
// like the runtime's own selectors, so a member that returns one is read by size and alignment
// (Dynamic::asSelector). Equal names give equal selectors; an unknown or null selector has an
// empty name, so reading other eight bytes as a selector is harmless.
#include <QMetaType>
#include <QString>
#include <cstdint>

namespace dynamic {

class Selector {
public:
    Selector() = default;
    // The selector for a name (made once per name, for the life of the process).
    static Selector named(const QString& name);

    QString name() const;
    bool isNull() const { return id_ == 0; }
    bool operator==(const Selector& other) const = default;

private:
    explicit Selector(uint64_t id) : id_(id) {}
    uint64_t id_ = 0;  // 1 + the name's place in the intern table; 0 for the null selector
};

}  // namespace dynamic

Q_DECLARE_METATYPE(dynamic::Selector)
