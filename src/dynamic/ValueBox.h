#pragma once
// The objects that plain values answer messages as: a Dynamic made from a string, a list or a
// map boxes it into one of these at its first send, as the platform boxes values into objects.
// A string answers length and characterAtIndex:, a list count, objectAtIndex:, firstObject and
// lastObject, a map count, objectForKey: and allKeys. An index out of range fails the send
// (an error value on the wrapper), as it raises on the platform.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace dynamic {

class StringBox : public QObject {
    Q_OBJECT
public:
    explicit StringBox(QString value) : value_(std::move(value)) {}
    Q_INVOKABLE qulonglong length() const { return static_cast<qulonglong>(value_.size()); }
    Q_INVOKABLE quint16 characterAtIndex(qulonglong index) const;
    Q_INVOKABLE QString description() const { return value_; }

private:
    QString value_;
};

class ListBox : public QObject {
    Q_OBJECT
public:
    explicit ListBox(QVariantList value) : value_(std::move(value)) {}
    Q_INVOKABLE qulonglong count() const { return static_cast<qulonglong>(value_.size()); }
    Q_INVOKABLE QVariant objectAtIndex(qulonglong index) const;
    Q_INVOKABLE QVariant firstObject() const { return value_.isEmpty() ? QVariant() : value_.front(); }
    Q_INVOKABLE QVariant lastObject() const { return value_.isEmpty() ? QVariant() : value_.back(); }

private:
    QVariantList value_;
};

class MapBox : public QObject {
    Q_OBJECT
public:
    explicit MapBox(QVariantMap value) : value_(std::move(value)) {}
    Q_INVOKABLE qulonglong count() const { return static_cast<qulonglong>(value_.size()); }
    // Absent for a key the map lacks.
    Q_INVOKABLE QVariant objectForKey(const QVariant& key) const { return value_.value(key.toString()); }
    Q_INVOKABLE QStringList allKeys() const { return value_.keys(); }

private:
    QVariantMap value_;
};

// The box for a value: a string (or character), any list or any map; null for other values.
std::unique_ptr<QObject> boxValue(const QVariant& value);

}  // namespace dynamic
