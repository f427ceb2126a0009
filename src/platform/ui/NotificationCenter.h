#pragma once
// The app's notification centre: observers register a handler for a notification name (and,
// optionally, one sender) and are called, on the posting thread, for each matching post. An
// observer is held weakly: once it is destroyed its registrations are dropped.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <mutex>
#include <vector>

namespace ui {

struct Notification {
    QString name;
    QPointer<QObject> object;  // the sender, when there is one
    QVariantMap userInfo;
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Registers a handler for posts of that name (from that sender when one is given).
    void addObserver(QObject* observer, const QString& name, QObject* sender, Handler handler);
    void removeObserver(QObject* observer);
    // How many registrations an observer has (dropped ones not counted).
    int observationCount(const QObject* observer) const;
    // Calls the matching handlers, in registration order, on the calling thread.
    void post(const Notification& notification);
    void post(const QString& name, QObject* sender = nullptr) { post(Notification{name, sender, {}}); }

private:
    struct Entry {
        QPointer<QObject> observer;
        QString name;
        QPointer<QObject> sender;
        bool anySender = true;
        Handler handler;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace ui
