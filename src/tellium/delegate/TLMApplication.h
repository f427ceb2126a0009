#pragma once
// The application object as the SDK's object runtime sees it: its delegate is installed with the
// message "setDelegate:" (so a delegate forwarder can step in), and the URL-opening callbacks are
// messages to the delegate by selector name. A desktop application that opens no URLs installs
// no delegate here; the forwarders still work on whatever is installed.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tellium/util/TLMObjectRuntime.h"

using TLMOpenURLOptions = std::map<std::string, std::string>;

class TLMApplication : public TLMObject, public std::enable_shared_from_this<TLMApplication> {
public:
    static constexpr const char* kClassName = "TLMApplication";
    std::string runtimeClassName() const override { return kClassName; }

    static std::shared_ptr<TLMApplication> sharedApplication();
    // Declares the class and its own "setDelegate:" (once).
    static void registerRuntimeClass();

    // Sent as "setDelegate:".
    void setDelegate(const std::shared_ptr<TLMObject>& delegate);
    std::shared_ptr<TLMObject> delegate();

    // Asks the delegate "application:openURL:options:"; false when it does not answer.
    bool openURL(const std::string& url, const TLMOpenURLOptions& options);
    // Asks the delegate the older "application:openURL:sourceApplication:annotation:".
    bool openURL(const std::string& url, const std::string& sourceApplication, const std::any& annotation);

    // The stored delegate, as the original "setDelegate:" keeps it.
    void storeDelegate(const std::shared_ptr<TLMObject>& delegate);

private:
    std::mutex mutex_;
    std::shared_ptr<TLMObject> delegate_;
};
