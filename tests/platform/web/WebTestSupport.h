#pragma once
// Helpers for the web view tests: run a script and wait for its outcome, collect the messages a
// page posts, and skip when there is no display.
#include <QtTest/QTest>

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/web/WebView.h"

namespace webtest {

using nlohmann::json;

// Generous but bounded waits: the first page of a process starts the web engine.
inline constexpr int kPageLoadMs = 30000;
inline constexpr int kScriptMs = 15000;

bool haveDisplay();

// Runs the event loop until the condition holds or the time runs out. Unlike QTest::qWaitFor it
// does not sleep between rounds, so work that hops between the engine's threads and the GUI
// thread (pages served from memory, for one) runs at the app's pace.
template <typename Pred>
bool waitFor(Pred done, int timeoutMs);

struct Outcome {
    bool done = false;
    json result;
    std::optional<web::ScriptError> error;
};

// Runs the script and waits for its completion (done stays false after the wait ran out).
Outcome run(web::WebView& view, const std::string& script, int timeoutMs = kScriptMs);

// Waits until the page itself holds the keyboard focus: the view (or its page surface) is the
// focused widget and, in a page with an element that takes the focus (a code editor's text
// input), the page says that element has it. Qt moves its focus at once; the page hears of it
// later from its own process, and a key sent before that goes where the page's focus was, not
// into the page. A page that is still loading (a busy machine loads a preview slowly) is waited
// for as long as a page load.
bool waitForPageFocus(web::WebView& view, int timeoutMs = kPageLoadMs);

// Records every message posted under the given names.
class MessageLog {
public:
    MessageLog(web::WebView& view, const std::vector<std::string>& names);
    const std::vector<web::ScriptMessage>& messages() const { return *messages_; }
    // Messages under `name` whose body is an object holding `key`.
    std::vector<json> bodiesWith(const std::string& name, const std::string& key) const;
    // Waits until a message under `name` holding `key` has arrived.
    bool waitFor(const std::string& name, const std::string& key, int timeoutMs = kPageLoadMs) const;
    void clear() { messages_->clear(); }

private:
    std::shared_ptr<std::vector<web::ScriptMessage>> messages_ = std::make_shared<std::vector<web::ScriptMessage>>();
};

std::string base64(const std::string& bytes);

bool waitForImpl(const std::function<bool()>& done, int timeoutMs);
template <typename Pred>
bool waitFor(Pred done, int timeoutMs) {
    return waitForImpl(std::function<bool()>(std::move(done)), timeoutMs);
}
std::string unbase64(const std::string& text);

}  // namespace webtest

#define SKIP_WITHOUT_DISPLAY()                                              \
    do {                                                                    \
        if (!webtest::haveDisplay()) GTEST_SKIP() << "no display (DISPLAY is empty)"; \
    } while (0)
