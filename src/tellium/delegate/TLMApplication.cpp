#include "tellium/delegate/TLMApplication.h"

#include "tellium/delegate/TLMAppDelegateForwarder.h"

std::shared_ptr<TLMApplication> TLMApplication::sharedApplication() {
    static auto* app = new std::shared_ptr<TLMApplication>(std::make_shared<TLMApplication>());
    registerRuntimeClass();
    return *app;
}

void TLMApplication::registerRuntimeClass() {
    TLMObjectRuntime::registerClass(kClassName);
    TLMObjectRuntime::classAddMethod(
        kClassName, "setDelegate:", TLMObjectRuntime::makeIMP([](TLMObject& self, TLMArguments& args) -> std::any {
            auto* app = dynamic_cast<TLMApplication*>(&self);
            if (app && !args.empty()) app->storeDelegate(std::any_cast<std::shared_ptr<TLMObject>>(args[0]));
            return {};
        }),
        "v@:@");
}

void TLMApplication::storeDelegate(const std::shared_ptr<TLMObject>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

void TLMApplication::setDelegate(const std::shared_ptr<TLMObject>& delegate) {
    TLMArguments args{delegate};
    TLMObjectRuntime::send(*this, "setDelegate:", args);
}

std::shared_ptr<TLMObject> TLMApplication::delegate() {
    std::lock_guard lock(mutex_);
    return delegate_;
}

namespace {
bool askDelegate(TLMApplication& app, const char* selector, TLMArguments args) {
    auto delegate = app.delegate();
    if (!delegate || !delegate->respondsToSelector(selector)) return false;
    auto result = TLMObjectRuntime::send(*delegate, selector, args);
    if (!result || !result->has_value()) return false;
    const bool* value = std::any_cast<bool>(&*result);
    return value && *value;
}
}  // namespace

bool TLMApplication::openURL(const std::string& url, const TLMOpenURLOptions& options) {
    return askDelegate(*this, kTLMOpenURLOptionsSelector, {this, url, options});
}

bool TLMApplication::openURL(const std::string& url, const std::string& sourceApplication, const std::any& annotation) {
    return askDelegate(*this, kTLMOpenURLSourceApplicationSelector, {this, url, sourceApplication, annotation});
}
