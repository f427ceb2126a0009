#include "platform/keychain/Keychain.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/dispatch/Dispatch.h"

namespace keychain {

std::string Failure::text() const {
    switch (kind) {
        case Kind::itemNotFound: return "item not found";
        case Kind::duplicateItem: return "duplicate item";
        case Kind::backend: break;
    }
    std::string t = "keyring error " + std::to_string(code);
    if (!message.empty()) t += ": " + message;
    return t;
}

namespace {

std::atomic<int64_t> g_timeout_ms{120000};

enum class Op { read, write, add, update, remove };

struct Request {
    Op op = Op::read;
    std::string service;
    std::string account;
    std::string secret;
    ReadCompletion readDone;
    Completion done;
};

// What one keyring job answered.
struct StepResult {
    int32_t code = 0;  // 0 success, else a failure code
    std::string message;
    std::string data;  // read: the stored secret
};

Failure failureOf(const StepResult& s) {
    Failure f;
    f.kind = s.code == kEntryNotFound ? Failure::Kind::itemNotFound : Failure::Kind::backend;
    f.code = s.code;
    f.message = s.message;
    return f;
}

void deliver(const std::shared_ptr<Request>& r, std::optional<std::string> secret, std::optional<Failure> failure) {
    dispatch::mainQueue().async([r, secret = std::move(secret), failure = std::move(failure)] {
        if (r->op == Op::read) {
            if (r->readDone) r->readDone(secret, failure);
        } else if (r->done) {
            r->done(failure);
        }
    });
}

// Lives on the keychain thread and runs the requests one after the other.
class Runner final : public QObject {
public:
    void enqueue(std::shared_ptr<Request> r) {
        queue_.push_back(std::move(r));
        next();
    }

private:
    using Then = std::function<void(StepResult)>;

    void next() {
        if (busy_ || queue_.empty()) return;
        auto r = queue_.front();
        queue_.pop_front();
        busy_ = true;
        switch (r->op) {
            case Op::read:
                readStep(*r, [this, r](StepResult s) {
                    if (s.code == 0) finish(r, std::move(s.data), std::nullopt);
                    else finish(r, std::nullopt, failureOf(s));
                });
                break;
            case Op::write:
                writeStep(*r, [this, r](StepResult s) { finishStep(r, s); });
                break;
            case Op::add:
                readStep(*r, [this, r](StepResult s) {
                    if (s.code == 0) {
                        finish(r, std::nullopt, Failure{Failure::Kind::duplicateItem, 0, {}});
                    } else if (s.code == kEntryNotFound) {
                        writeStep(*r, [this, r](StepResult w) { finishStep(r, w); });
                    } else {
                        finish(r, std::nullopt, failureOf(s));
                    }
                });
                break;
            case Op::update:
                readStep(*r, [this, r](StepResult s) {
                    if (s.code == 0) writeStep(*r, [this, r](StepResult w) { finishStep(r, w); });
                    else finish(r, std::nullopt, failureOf(s));
                });
                break;
            case Op::remove:
                readStep(*r, [this, r](StepResult s) {
                    if (s.code == 0) deleteStep(*r, [this, r](StepResult d) { finishStep(r, d); });
                    else finish(r, std::nullopt, failureOf(s));
                });
                break;
        }
    }

    void finishStep(const std::shared_ptr<Request>& r, const StepResult& s) {
        finish(r, std::nullopt, s.code == 0 ? std::nullopt : std::optional<Failure>(failureOf(s)));
    }

    void finish(const std::shared_ptr<Request>& r, std::optional<std::string> secret, std::optional<Failure> failure) {
        deliver(r, std::move(secret), std::move(failure));
        busy_ = false;
        next();
    }

    void readStep(const Request& r, Then then) {
        auto* job = new QKeychain::ReadPasswordJob(QString::fromStdString(r.service));
        job->setKey(QString::fromStdString(r.account));
        run(job, std::move(then));
    }

    void writeStep(const Request& r, Then then) {
        auto* job = new QKeychain::WritePasswordJob(QString::fromStdString(r.service));
        job->setKey(QString::fromStdString(r.account));
        job->setBinaryData(QByteArray(r.secret.data(), static_cast<qsizetype>(r.secret.size())));
        run(job, std::move(then));
    }

    void deleteStep(const Request& r, Then then) {
        auto* job = new QKeychain::DeletePasswordJob(QString::fromStdString(r.service));
        job->setKey(QString::fromStdString(r.account));
        run(job, std::move(then));
    }

    // Starts the job; `then` runs once, with the job's answer or with kTimedOut. Only a read gives
    // up waiting: a write or delete that is late may still land, so it is reported by its own
    // answer and never as failed while it could yet succeed.
    void run(QKeychain::Job* job, Then then) {
        job->setAutoDelete(true);
        auto answered = std::make_shared<bool>(false);
        auto shared_then = std::make_shared<Then>(std::move(then));
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(job, &QKeychain::Job::finished, this, [answered, shared_then, timer](QKeychain::Job* j) {
            if (*answered) return;
            *answered = true;
            timer->stop();
            timer->deleteLater();
            StepResult s;
            s.code = static_cast<int32_t>(j->error());
            if (s.code != 0) s.message = j->errorString().toStdString();
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(j); read && s.code == 0) {
                QByteArray bytes = read->binaryData();
                s.data.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
            }
            (*shared_then)(std::move(s));
        });
        connect(timer, &QTimer::timeout, this, [answered, shared_then, timer] {
            if (*answered) return;
            *answered = true;
            timer->deleteLater();
            (*shared_then)(StepResult{kTimedOut, "The keyring did not answer in time.", {}});
        });
        if (qobject_cast<QKeychain::ReadPasswordJob*>(job)) {
            timer->start(static_cast<int>(std::min<int64_t>(g_timeout_ms.load(), INT32_MAX)));
        }
        job->start();
    }

    std::deque<std::shared_ptr<Request>> queue_;
    bool busy_ = false;
};

// The keychain thread, made on first use while a Qt application exists, and stopped when that
// application object goes away.
struct Host {
    std::mutex mutex;
    QThread* thread = nullptr;
    Runner* runner = nullptr;
};

Host& host() {
    static auto* h = new Host;  // lives until exit
    return *h;
}

void stopHost() {
    QThread* thread = nullptr;
    {
        std::lock_guard lock(host().mutex);
        thread = std::exchange(host().thread, nullptr);
        host().runner = nullptr;
    }
    if (!thread) return;
    thread->quit();
    if (thread->wait(3000)) delete thread;  // else left running: the process is ending anyway
}

Runner* hostRunner() {
    std::lock_guard lock(host().mutex);
    if (!QCoreApplication::instance()) return nullptr;
    if (!host().thread) {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("keychain"));
        auto* runner = new Runner;
        runner->moveToThread(thread);
        // Deleted on its own thread as the thread's event loop ends.
        QObject::connect(thread, &QThread::finished, runner, [runner] { delete runner; }, Qt::DirectConnection);
        thread->start();
        host().thread = thread;
        host().runner = runner;
        qAddPostRoutine(stopHost);
    }
    return host().runner;
}

void submit(std::shared_ptr<Request> r) {
    Runner* runner = hostRunner();
    if (!runner) {
        deliver(r, std::nullopt,
                Failure{Failure::Kind::backend, kNoApplication, "The keyring cannot be used before the application starts."});
        return;
    }
    QMetaObject::invokeMethod(runner, [runner, r] { runner->enqueue(r); }, Qt::QueuedConnection);
}

std::shared_ptr<Request> makeRequest(Op op, const std::string& service, const std::string& account,
                                     std::string secret = {}) {
    auto r = std::make_shared<Request>();
    r->op = op;
    r->service = service;
    r->account = account;
    r->secret = std::move(secret);
    return r;
}

}  // namespace

void readPassword(const std::string& service, const std::string& account, ReadCompletion completion) {
    auto r = makeRequest(Op::read, service, account);
    r->readDone = std::move(completion);
    submit(std::move(r));
}

void writePassword(const std::string& service, const std::string& account, const std::string& secret,
                   Completion completion) {
    auto r = makeRequest(Op::write, service, account, secret);
    r->done = std::move(completion);
    submit(std::move(r));
}

void addPassword(const std::string& service, const std::string& account, const std::string& secret,
                 Completion completion) {
    auto r = makeRequest(Op::add, service, account, secret);
    r->done = std::move(completion);
    submit(std::move(r));
}

void updatePassword(const std::string& service, const std::string& account, const std::string& secret,
                    Completion completion) {
    auto r = makeRequest(Op::update, service, account, secret);
    r->done = std::move(completion);
    submit(std::move(r));
}

void deletePassword(const std::string& service, const std::string& account, Completion completion) {
    auto r = makeRequest(Op::remove, service, account);
    r->done = std::move(completion);
    submit(std::move(r));
}

void setTimeout(std::chrono::milliseconds limit) { g_timeout_ms.store(std::max<int64_t>(1, limit.count())); }

std::chrono::milliseconds timeout() { return std::chrono::milliseconds(g_timeout_ms.load()); }

}  // namespace keychain
