#pragma once
// The application's life-cycle moments as the SDK hears them: the application went to the
// background, is coming back to the foreground, is about to end. The application posts them (it
// maps its toolkit's states onto them); SDK objects observe them. Observers run on the posting
// thread, outside any lock of this notifier, in the order they were added; an observer stays
// while its token lives.
#include <functional>
#include <memory>

enum class TLMApplicationEvent {
    didEnterBackground,
    willEnterForeground,
    willTerminate,
};

class TLMApplicationLifecycle {
public:
    using Token = std::shared_ptr<void>;
    // Observes one event until the token is dropped.
    [[nodiscard]] static Token addObserver(TLMApplicationEvent event, std::function<void()> observer);
    static void post(TLMApplicationEvent event);
};
