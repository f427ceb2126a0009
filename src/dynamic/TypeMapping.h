#pragma once
// Bridges an argument of one of the core value types to the form that an object-taking member
// expects (a list of strings becomes a QVariantList, a date a QDateTime, ...). Consulted once per
// argument of a send; values of other types (numbers, Booleans, structures, objects) give absent
// and pass unchanged.
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

namespace dynamic {

class TypeMapping {
public:
    struct Row {
        QString valueType;          // the kind of value the row stands for
        std::vector<QMetaType> matches;  // the core types of that kind (none where there is no such type)
        QMetaType objectType;       // what a match becomes
    };
    // The rows, tested in order; the first match decides.
    static const std::vector<Row>& table();

    static std::optional<QVariant> convertToObjCType(const std::optional<QVariant>& value);
};

}  // namespace dynamic
