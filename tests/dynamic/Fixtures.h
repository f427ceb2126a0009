#pragma once
// Classes registered for the tests: a class object with class-level members, and its instances.
#include <QByteArrayList>
#include <QCalendar>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>
#include <QString>
#include <QVariant>
#include <stdexcept>

#include "dynamic/ClassRegistry.h"
#include "dynamic/Dynamic.h"
#include "dynamic/Logger.h"

namespace fixtures {

class Gadget : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(qulonglong styleMask MEMBER styleMask)
public:
    Q_INVOKABLE Gadget() = default;
    explicit Gadget(QObject* parent) : QObject(parent) {}
    Q_INVOKABLE Gadget(QString title, int count) : title_(std::move(title)), count_(count) {}
    Q_INVOKABLE Gadget(int count, QString title) : title_(QStringLiteral("counted ") + title), count_(count) {}

    QString title() const { return title_; }
    void setTitle(const QString& t) { title_ = t; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool e) { enabled_ = e; }

    Q_INVOKABLE QString name() const { return QStringLiteral("gadget ") + title_; }
    Q_INVOKABLE int count() const { return count_; }
    Q_INVOKABLE qint64 big() const { return 0x4000000000000000LL; }
    Q_INVOKABLE double ratio() const { return 2.5; }
    Q_INVOKABLE bool flag() const { return true; }
    Q_INVOKABLE QRectF frame() const { return {1, 2, 3, 4}; }
    Q_INVOKABLE QStringList tags() const { return {QStringLiteral("a"), QStringLiteral("b")}; }
    Q_INVOKABLE QVariantMap info() const { return {{QStringLiteral("k"), 1}}; }
    Q_INVOKABLE void ping() { ++pings; }
    Q_INVOKABLE QObject* partner() const { return partner_; }
    Q_INVOKABLE QObject* nobody() const { return nullptr; }
    Q_INVOKABLE QObject* hostFor(QObject* other) { return other; }
    Q_INVOKABLE QString join(const QString& a, const QString& b) const { return a + QLatin1Char('+') + b; }
    Q_INVOKABLE double half(double v) const { return v / 2; }
    Q_INVOKABLE QString typeOf(const QVariant& v) const { return QString::fromLatin1(v.typeName()); }
    Q_INVOKABLE void takeGadget(fixtures::Gadget* g) { taken = g; }
    Q_INVOKABLE int boom() { throw std::runtime_error("boom inside"); }
    Q_INVOKABLE void setIs(int v) { calls << QStringLiteral("setIs:%1").arg(v); }
    Q_INVOKABLE void setIsx(int v) { calls << QStringLiteral("setIsx:%1").arg(v); }
    // Members handing over objects of their own ("new...", "copy..."), and one that keeps it.
    Q_INVOKABLE QObject* newPartner() { return made = new Gadget(QStringLiteral("new"), 1); }
    Q_INVOKABLE QObject* copyGadget() { return made = new Gadget(title_, count_); }
    Q_INVOKABLE QObject* newChild() { return made = new Gadget(this); }
    Q_INVOKABLE dynamic::Selector action() const { return dynamic::Selector::named(QStringLiteral("performClose:")); }
    Q_INVOKABLE QString selectorName(dynamic::Selector s) const { return s.name(); }
    // One member per mapped value type, declaring that type; each hands back what it got.
    Q_INVOKABLE QVariant takeVariantList(const QVariantList& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeStringList(const QStringList& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeByteArrayList(const QByteArrayList& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeJsonArray(const QJsonArray& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeCalendar(const QCalendar& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeByteArray(const QByteArray& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeDateTime(const QDateTime& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeDate(const QDate& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeVariantMap(const QVariantMap& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeVariantHash(const QVariantHash& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeJsonObject(const QJsonObject& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeLocale(const QLocale& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeStringSet(const QSet<QString>& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeIntSet(const QSet<int>& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeString(const QString& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeChar(QChar v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeTimeZone(const QTimeZone& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeUrl(const QUrl& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeRequest(const QNetworkRequest& v) const { return QVariant::fromValue(v); }
    Q_INVOKABLE QVariant takeUuid(const QUuid& v) const { return QVariant::fromValue(v); }

    QObject* partner_ = nullptr;
    int pings = 0;
    Gadget* taken = nullptr;
    QStringList calls;
    qulonglong styleMask = 15;
    QPointer<QObject> made;

private:
    QString title_;
    int count_ = 0;
    bool enabled_ = false;
};

class GadgetClass : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE QObject* shared() { return &sharedGadget; }
    Q_INVOKABLE QString didChangeNotification() const { return QStringLiteral("GadgetDidChange"); }
    Gadget sharedGadget;
};

// Registers the class under "Gadget" for the life of a test.
struct RegisteredGadget {
    GadgetClass cls;
    RegisteredGadget() {
        dynamic::ClassRegistry::registerClass(QStringLiteral("Gadget"), &cls, &Gadget::staticMetaObject);
    }
    ~RegisteredGadget() {
        dynamic::ClassRegistry::unregisterClass(QStringLiteral("Gadget"));
        dynamic::Dynamic::setLoggingEnabled(false);
        dynamic::Logger::resetForTesting();
    }
};

}  // namespace fixtures
