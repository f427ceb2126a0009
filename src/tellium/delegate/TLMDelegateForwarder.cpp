#include "tellium/delegate/TLMDelegateForwarder.h"

#include <algorithm>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMPlatformHooks.h"

namespace {

constexpr const char* kReturnedValueSuffix = "returnedValue:";
constexpr const char* kCustomPrefix = "custom_";

// The trace buffer: exists from process start until the first flush.
struct TraceBuffer {
    std::mutex mutex;
    std::optional<std::vector<std::function<void()>>> blocks = std::vector<std::function<void()>>{};
    bool startAdded = false;
};
TraceBuffer& traceBuffer() {
    static auto* buffer = new TraceBuffer;
    return *buffer;
}

// Forwarded invocations run one at a time per process (a delegate may forward again).
std::recursive_mutex& invocationMutex() {
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// An information value read the way a property list's boolValue reads it.
std::optional<bool> boolValue(const nlohmann::json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number()) return value.get<double>() != 0;
    if (value.is_string()) {
        const std::string s = value.get<std::string>();
        const auto first = s.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) return false;
        const char c = s[first];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return std::nullopt;
}

}  // namespace

TLMDelegateForwarder::TLMDelegateForwarder() = default;
TLMDelegateForwarder::~TLMDelegateForwarder() = default;

// ---- trace buffer --------------------------------------------------------------------------

void TLMDelegateForwarder::addTraceBlock(std::function<void()> block) {
    auto& buffer = traceBuffer();
    std::unique_lock lock(buffer.mutex);
    if (buffer.blocks) {
        if (!buffer.startAdded) {
            buffer.startAdded = true;
            buffer.blocks->push_back([] { TLMLogVerbose(kTLMLogTag, std::string("Start buffering traces.")); });
        }
        buffer.blocks->push_back(std::move(block));
        return;
    }
    lock.unlock();
    if (block) block();
}

void TLMDelegateForwarder::flushTraceBuffer() {
    auto& buffer = traceBuffer();
    std::lock_guard lock(buffer.mutex);
    if (buffer.blocks) {
        for (auto& block : *buffer.blocks) {
            if (block) block();
        }
        buffer.blocks.reset();
        TLMLogVerbose(kTLMLogTag, std::string("Stop buffering traces, flushed."));
    }
}

void TLMDelegateForwarder::resetTraceBufferForTesting() {
    auto& buffer = traceBuffer();
    std::lock_guard lock(buffer.mutex);
    buffer.blocks = std::vector<std::function<void()>>{};
    buffer.startAdded = false;
}

// ---- switch and delegates ------------------------------------------------------------------

void TLMDelegateForwarder::setEnabledFromPlistForKey(const std::string& key) {
    bool enabled = true;
    if (auto value = TLMPlatform::infoDictionaryValue(key)) enabled = boolValue(*value).value_or(true);
    setEnabled(enabled);
    addTraceBlock([key, enabled] {
        if (enabled) {
            TLMLogDebug(kTLMLogTag, "Delegate forwarder for info.plist key '" + key + "' enabled. It may use swizzling.");
        } else {
            TLMLogDebug(kTLMLogTag,
                        "Delegate forwarder for info.plist key '" + key + "' disabled. It won't use swizzling.");
        }
    });
}

bool TLMDelegateForwarder::isEnabled() {
    std::lock_guard lock(mutex_);
    return enabled_;
}

void TLMDelegateForwarder::setEnabled(bool isEnabled) {
    std::lock_guard lock(mutex_);
    enabled_ = isEnabled;
    if (!isEnabled) delegates_.clear();
}

void TLMDelegateForwarder::addDelegate(const std::shared_ptr<TLMObject>& delegate) {
    std::lock_guard lock(mutex_);
    if (!enabled_ || !delegate) return;
    std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : delegates_) {
        if (weak.lock() == delegate) return;
    }
    delegates_.push_back(delegate);
}

void TLMDelegateForwarder::removeDelegate(const std::shared_ptr<TLMObject>& delegate) {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    std::erase_if(delegates_, [&](const auto& weak) {
        auto d = weak.lock();
        return !d || d == delegate;
    });
}

std::size_t TLMDelegateForwarder::delegateCount() {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(delegates_.begin(), delegates_.end(), [](const auto& weak) { return !weak.expired(); }));
}

// ---- replacing methods ---------------------------------------------------------------------

void TLMDelegateForwarder::setOriginalSetDelegateImp(TLMIMP imp) {
    std::lock_guard lock(swizzleMutex_);
    originalSetDelegateImp_ = std::move(imp);
}

TLMIMP TLMDelegateForwarder::originalSetDelegateImp() {
    std::lock_guard lock(swizzleMutex_);
    return originalSetDelegateImp_;
}

std::map<std::string, TLMIMP> TLMDelegateForwarder::originalImplementations() {
    std::lock_guard lock(swizzleMutex_);
    return originalImplementations_;
}

std::set<std::string> TLMDelegateForwarder::selectorsToSwizzle() {
    std::lock_guard lock(swizzleMutex_);
    return selectorsToSwizzle_;
}

void TLMDelegateForwarder::addDelegateSelectorToSwizzle(const std::string& selector) {
    if (!isEnabled()) return;
    if (std::once_flag* token = swizzlingOnceToken()) {
        std::call_once(*token, [this] {
            auto platformClass = originalClassForSetDelegate();
            if (!platformClass) return;
            auto method = TLMObjectRuntime::classGetInstanceMethod(*platformClass, "setDelegate:");
            auto custom = TLMObjectRuntime::classGetMethodImplementation(runtimeClassName(), "custom_setDelegate:");
            if (method && custom) setOriginalSetDelegateImp(TLMObjectRuntime::methodSetImplementation(*method, custom));
        });
    }
    std::lock_guard lock(swizzleMutex_);
    selectorsToSwizzle_.insert(selector);
}

void TLMDelegateForwarder::swizzleOriginalDelegate(const std::shared_ptr<TLMObject>& originalDelegate) {
    if (!originalDelegate) return;
    const std::string delegateClass = originalDelegate->runtimeClassName();
    std::set<std::string> selectors;
    {
        std::lock_guard lock(swizzleMutex_);
        selectors.swap(selectorsToSwizzle_);
        swizzledClass_ = delegateClass;
    }
    for (const auto& selector : selectors) {
        const bool hadMethod = TLMObjectRuntime::classGetInstanceMethod(delegateClass, selector).has_value();
        TLMIMP original = swizzleOriginalSelector(selector, kCustomPrefix + selector, delegateClass);
        std::lock_guard lock(swizzleMutex_);
        if (original) originalImplementations_[selector] = original;
        if (!hadMethod && TLMObjectRuntime::classGetInstanceMethod(delegateClass, selector)) {
            addedSelectors_.insert(selector);
        }
    }
}

TLMIMP TLMDelegateForwarder::swizzleOriginalSelector(const std::string& originalSelector,
                                                     const std::string& customSelector,
                                                     const std::string& originalClass) {
    auto originalMethod = TLMObjectRuntime::classGetInstanceMethod(originalClass, originalSelector);
    auto customMethod = TLMObjectRuntime::classGetInstanceMethod(runtimeClassName(), customSelector);
    TLMIMP customImp = customMethod ? customMethod->imp : nullptr;
    TLMIMP previous;
    bool added = false;
    std::string remedy;
    if (originalMethod && customImp) {
        previous = TLMObjectRuntime::methodSetImplementation(*originalMethod, customImp);
    } else if (!originalMethod && !TLMObjectRuntime::instancesRespondToSelector(originalClass, originalSelector)) {
        auto deprecated = deprecatedSelectors_.find(originalSelector);
        const bool deprecatedImplemented =
            deprecated != deprecatedSelectors_.end() &&
            TLMObjectRuntime::instancesRespondToSelector(originalClass, deprecated->second);
        const bool isDeprecatedOfAnother = std::any_of(deprecatedSelectors_.begin(), deprecatedSelectors_.end(),
                                                       [&](const auto& e) { return e.second == originalSelector; });
        if (deprecatedImplemented) {
            remedy = "No implementation found for this selector, though an implementation of its deprecated API '" +
                     deprecated->second + "' exists.";
        } else if (isDeprecatedOfAnother) {
            return nullptr;
        } else if (customImp) {
            added = TLMObjectRuntime::classAddMethod(originalClass, originalSelector, customImp, customMethod->types);
        }
    }
    if (!previous && !added) {
        const std::string message = "Cannot swizzle selector '" + originalSelector + "' of class '" + originalClass + "'.";
        if (!remedy.empty()) {
            addTraceBlock([message, remedy] { TLMLogWarning(kTLMLogTag, message + " " + remedy); });
        } else {
            addTraceBlock([message] {
                TLMLogError(kTLMLogTag, message + " You need to explicitly call the Tellium API from your app "
                                                  "delegate implementation.");
            });
        }
        return nullptr;
    }
    addTraceBlock([originalSelector, originalClass] {
        TLMLogDebug(kTLMLogTag, "Selector '" + originalSelector + "' of class '" + originalClass + "' is swizzled.");
    });
    return previous;
}

void TLMDelegateForwarder::restoreOriginalDelegate() {
    std::map<std::string, TLMIMP> originals;
    std::set<std::string> added;
    std::string cls;
    {
        std::lock_guard lock(swizzleMutex_);
        originals.swap(originalImplementations_);
        added.swap(addedSelectors_);
        cls.swap(swizzledClass_);
    }
    if (cls.empty()) return;
    for (const auto& [selector, imp] : originals) {
        if (auto method = TLMObjectRuntime::classGetInstanceMethod(cls, selector)) {
            TLMObjectRuntime::methodSetImplementation(*method, imp);
        }
    }
    for (const auto& selector : added) TLMObjectRuntime::classRemoveMethod(cls, selector);
}

// ---- forwarding ----------------------------------------------------------------------------

void TLMDelegateForwarder::forwardInvocation(TLMInvocation& invocation) {
    std::lock_guard classLock(invocationMutex());
    const bool returnsValue = endsWith(invocation.selector, kReturnedValueSuffix) && !invocation.arguments.empty();
    std::vector<std::shared_ptr<TLMObject>> delegates;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : delegates_) {
            if (auto d = weak.lock()) delegates.push_back(std::move(d));
        }
    }
    for (const auto& delegate : delegates) {
        if (!delegate->respondsToSelector(invocation.selector)) continue;
        TLMArguments arguments = invocation.arguments;
        auto result = TLMObjectRuntime::send(*delegate, invocation.selector, arguments);
        if (returnsValue && result && result->has_value()) invocation.arguments.back() = *result;
    }
    if (returnsValue) invocation.returnValue = invocation.arguments.back();
}

std::any TLMDelegateForwarder::send(const std::string& selector, TLMArguments arguments) {
    if (TLMObjectRuntime::instancesRespondToSelector(runtimeClassName(), selector)) {
        auto result = TLMObjectRuntime::send(*this, selector, arguments);
        return result ? *result : std::any{};
    }
    TLMInvocation invocation{selector, std::move(arguments), {}};
    forwardInvocation(invocation);
    return invocation.returnValue;
}
