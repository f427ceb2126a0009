#include "app/LaunchReport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWindow>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class FirstExposure : public QObject {
public:
    FirstExposure(std::string file, std::chrono::steady_clock::time_point started)
        : file_(std::move(file)), started_(started) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed()) {
                const auto now = std::chrono::steady_clock::now();
                const std::chrono::duration<double, std::milli> elapsed = now - started_;
                const std::chrono::duration<double, std::milli> clock = now.time_since_epoch();
                std::ofstream(file_, std::ios::trunc) << std::fixed << elapsed.count() << " " << clock.count() << "\n";
                QCoreApplication::instance()->removeEventFilter(this);
                deleteLater();
            }
        }
        return false;
    }

private:
    std::string file_;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace

void report_first_window_when_shown(std::chrono::steady_clock::time_point main_started) {
    const char* file = std::getenv("DRAVIX_LAUNCH_REPORT");
    if (!file || !*file || !QCoreApplication::instance()) return;
    QCoreApplication::instance()->installEventFilter(new FirstExposure(file, main_started));
}
