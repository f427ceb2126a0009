#include "WebTestSupport.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/web/WebProfile.h"

namespace {
// The page scheme must be registered before main() makes the QApplication.
const bool kSchemesRegistered = (web::registerWebSchemes(), true);
}  // namespace

namespace webtest {

bool haveDisplay() { return kSchemesRegistered && !qEnvironmentVariableIsEmpty("DISPLAY"); }

Outcome run(web::WebView& view, const std::string& script, int timeoutMs) {
    auto outcome = std::make_shared<Outcome>();
    view.evaluateJavaScript(script, [outcome](json result, std::optional<web::ScriptError> error) {
        outcome->result = std::move(result);
        outcome->error = std::move(error);
        outcome->done = true;
    });
    (void)waitFor([&] { return outcome->done; }, timeoutMs);
    return *outcome;
}

bool waitForPageFocus(web::WebView& view, int timeoutMs) {
    auto qtFocus = [&] {
        QWidget* window = view.window();
        // A window opened just before may take the activation back late: the keys need this one.
        if (window && !window->isActiveWindow()) window->activateWindow();
        QWidget* f = window ? window->focusWidget() : nullptr;
        return f && (f == &view || view.isAncestorOf(f)) && QApplication::focusWidget() == f;
    };
    // A page with nothing to focus hands Tab on as soon as it has it; only a page with an element
    // that takes the focus has to be waited for.
    const std::string script =
        "!document.querySelector('textarea, input, [tabindex]') || (document.hasFocus() && "
        "document.activeElement !== null && document.activeElement !== document.body)";
    const bool ok = waitFor(
        [&] {
            if (!qtFocus()) return false;
            auto out = run(view, script, 2000);
            return out.done && !out.error && out.result == json(true) && qtFocus();
        },
        timeoutMs);
    return ok;
}

MessageLog::MessageLog(web::WebView& view, const std::vector<std::string>& names) {
    for (const auto& name : names) {
        auto sink = messages_;
        view.addMessageHandler(name, [sink](const web::ScriptMessage& m) { sink->push_back(m); });
    }
}

std::vector<json> MessageLog::bodiesWith(const std::string& name, const std::string& key) const {
    std::vector<json> out;
    for (const auto& m : *messages_) {
        if (m.name == name && m.body.is_object() && m.body.contains(key)) out.push_back(m.body);
    }
    return out;
}

bool MessageLog::waitFor(const std::string& name, const std::string& key, int timeoutMs) const {
    return webtest::waitFor([&] { return !bodiesWith(name, key).empty(); }, timeoutMs);
}

bool waitForImpl(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    bool met = false;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done()) {
            met = true;
            loop.quit();
        } else if (clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    return met || done();
}

std::string base64(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

std::string unbase64(const std::string& text) {
    return QByteArray::fromBase64(QByteArray::fromStdString(text)).toStdString();
}

}  // namespace webtest
