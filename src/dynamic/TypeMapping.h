#pragma once
// Bridges an argument of one of the core value types to the form that an object-taking member
// expects (a list of strings becomes a QVariantList, a date a QDateTime, ...). Consulted once per
// argument of a send; values of other types (numbers, Booleans, structures, objects) give absent
// and pass unchanged. At the call the bridged form is handed over as the member's declared
// parameter type (convertToDeclaredType), so a member that declares the original type gets it.
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

namespace dynamic {

class TypeMapping {
public:
    struct Row {
        QString valueType;               // the kind of value the row stands for
        std::vector<QMetaType> matches;  // the core types of that kind (none where Qt has no such type)
        QMetaType objectType;            // what a match becomes
    };
    // The rows, tested in order; the first match decides.
    static const std::vector<Row>& table();

    static std::optional<QVariant> convertToObjCType(const std::optional<QVariant>& value);

    // A value in the type a member declares: the value itself when it already is one, else its
    // conversion (a bridged list back to a string list, a date and time to a date, a
    // one-character string to a character, a list to a set, ...); absent when there is none.
    static std::optional<QVariant> convertToDeclaredType(const QVariant& value, QMetaType declared);
};

}  // namespace dynamic
