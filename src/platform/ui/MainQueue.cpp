#include "platform/ui/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/ExitDrain.h"

namespace ui {

namespace {
struct PendingTasks {
    std::mutex mutex;
    std::deque<dispatch::Task> tasks;
    bool handedBack = false;  // the queue went back to the hand-pumped list for the exit
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
    {
        std::lock_guard lock(pending().mutex);
        pending().handedBack = false;
    }
    dispatch::installMainExecutor(
        [](dispatch::Task task) {
            {
                std::unique_lock lock(pending().mutex);
                if (pending().handedBack) {
                    // Posted by a thread that picked this executor just before the hand-back.
                    lock.unlock();
                    dispatch::mainQueue().async(std::move(task));
                    return;
                }
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

void handMainQueueBackForExit() {
    std::vector<dispatch::Task> leftovers;
    {
        std::lock_guard lock(pending().mutex);
        pending().handedBack = true;
        for (auto& task : pending().tasks) leftovers.push_back(std::move(task));
        pending().tasks.clear();
    }
    dispatch::returnToHandPumpedMainQueue(std::move(leftovers));
}

}  // namespace ui
