#include "app/AppLifecycleMapper.h"

#include "tellium/util/TLMApplicationLifecycle.h"

void AppLifecycleMapper::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationHidden || state == Qt::ApplicationSuspended) {
        if (background_) return;
        background_ = true;
        TLMApplicationLifecycle::shared().post(TLMApplicationEvent::didEnterBackground);
    } else if (state == Qt::ApplicationActive && background_) {
        background_ = false;
        TLMApplicationLifecycle::shared().post(TLMApplicationEvent::willEnterForeground);
    }
}
