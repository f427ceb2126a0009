#include "platform/ui/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <deque>
#include <mutex>

#include "platform/dispatch/Dispatch.h"

namespace ui {

namespace {
struct PendingTasks {
    std::mutex mutex;
    std::deque<dispatch::Task> tasks;
};
// Lives until exit and is never destroyed, so tasks left in it at exit are never destroyed either.
PendingTasks& pending() {
    static auto* p = new PendingTasks;
    return *p;
}

void runNext() {
    dispatch::Task task;
    {
        std::lock_guard lock(pending().mutex);
        if (pending().tasks.empty()) return;
        task = std::move(pending().tasks.front());
        pending().tasks.pop_front();
    }
    task();
}
}  // namespace

void installMainQueueOnGuiThread() {
    dispatch::installMainExecutor(
        [](dispatch::Task task) {
            {
                std::lock_guard lock(pending().mutex);
                pending().tasks.push_back(std::move(task));
            }
            if (auto* app = QCoreApplication::instance()) QMetaObject::invokeMethod(app, &runNext, Qt::QueuedConnection);
        },
        [] {
            auto* app = QCoreApplication::instance();
            return app && QThread::currentThread() == app->thread();
        });
}

void uninstallMainQueue() { dispatch::installMainExecutor(nullptr); }

}  // namespace ui
