#include "platform/web/MemoryRelease.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace web::memory {

namespace {

std::size_t gReleases = 0;

QTimer* releaseTimer() {
    static QPointer<QTimer> timer;
    if (!timer && QCoreApplication::instance()) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(kReleaseDelayMs);
        QObject::connect(timer, &QTimer::timeout, [] {
#if defined(__GLIBC__)
            malloc_trim(0);
#endif
            ++gReleases;
        });
    }
    return timer.data();
}

}  // namespace

void keepLargeBlocksApart() {
#if defined(__GLIBC__)
    static const bool done = [] { return mallopt(M_MMAP_THRESHOLD, static_cast<int>(kOwnPagesBytes)) == 1; }();
    (void)done;
#endif
}

void releaseSoon() {
    QTimer* timer = releaseTimer();
    // Not restarted by later asks: a steady stream of crossings still gets its releases.
    if (timer && !timer->isActive()) timer->start();
}

void releaseAfterCrossing(std::size_t bytes) {
    if (bytes >= kLargeCrossingBytes) releaseSoon();
}

std::size_t releases() { return gReleases; }

bool releasePending() {
    QTimer* timer = releaseTimer();
    return timer && timer->isActive();
}

}  // namespace web::memory
