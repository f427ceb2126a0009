#include "dynamic/ValueBox.h"

#include <stdexcept>
#include <string>

#include "dynamic/TypeMapping.h"

namespace dynamic {

quint16 StringBox::characterAtIndex(qulonglong index) const {
    if (index >= static_cast<qulonglong>(value_.size())) {
        throw std::out_of_range("index " + std::to_string(index) + " beyond bounds of a string of length " +
                                std::to_string(value_.size()));
    }
    return value_.at(static_cast<qsizetype>(index)).unicode();
}

QVariant ListBox::objectAtIndex(qulonglong index) const {
    if (index >= static_cast<qulonglong>(value_.size())) {
        throw std::out_of_range("index " + std::to_string(index) + " beyond bounds of a list of " +
                                std::to_string(value_.size()));
    }
    return value_.at(static_cast<qsizetype>(index));
}

std::unique_ptr<QObject> boxValue(const QVariant& value) {
    if (!value.isValid()) return nullptr;
    // The same kinds the type mapping bridges: the string, array, set and dictionary rows.
    const std::optional<QVariant> bridged = TypeMapping::convertToObjCType(value);
    if (!bridged) return nullptr;
    switch (bridged->metaType().id()) {
        case QMetaType::QString: return std::make_unique<StringBox>(bridged->toString());
        case QMetaType::QVariantList: return std::make_unique<ListBox>(bridged->toList());
        case QMetaType::QVariantMap: return std::make_unique<MapBox>(bridged->toMap());
        default: return nullptr;
    }
}

}  // namespace dynamic
