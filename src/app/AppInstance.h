#pragma once
// One running copy of the app per data folder. Each copy holds the saved servers, the editing
// sessions and the preferences in memory and writes them whole at every save, so two copies on
// the same folder overwrite each other's changes (a server added in one is gone when the other
// saves). The first copy locks a file in the data folder and listens on a local socket
// named after that folder; a later launch on the same folder finds the lock held, asks the
// running copy over the socket to bring its server window forward (or to open the links it was
// given, AppLinks.h), and ends before it has
// touched any file; a running copy that is still starting is waited for, in a window that says
// so (AppInstanceWait.h). A lock left by a copy that died is taken over (its process is gone), and so
// is its socket. Copies on other data folders (another HOME or XDG_DATA_HOME) never meet.
//
// Main thread; made after the application object and before the launch sequence.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

class QLocalServer;

class AppInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        first,       // this copy runs the app (the lock is ours, or could not be had at all)
        handedOver,  // another copy runs on the folder and was asked to come forward
        unanswered,  // another copy holds the folder but its socket could not be reached
    };

    explicit AppInstance(std::filesystem::path data_folder);
    ~AppInstance() override;

    // Takes the folder's lock and listens, or hands over to the copy that holds it. A later
    // launch that comes while the holder is still starting waits for its socket up to `wait`.
    Claim claim(std::chrono::milliseconds wait = std::chrono::seconds(10));

    // After claim() found the holder not answering (it may be starting slowly, waiting for the
    // keyring): keeps asking it, from the event loop, and takes the lock should the holder end.
    // `settled` runs once, on the main thread, with handedOver or first (the lock is ours now,
    // and this copy listens). stopWaiting() ends the asking; `settled` does not run after it.
    void waitForHolder(std::function<void(Claim)> settled);
    void stopWaiting();

    // What a later launch asks of the first copy; runs on the main thread, once per launch, with
    // the links that launch was given (none for a plain launch).
    void setActivationHandler(std::function<void(const QStringList& links)> handler) { activation_ = std::move(handler); }
    // The links this launch hands to the running copy, should there be one (before claim()).
    void setLinks(QStringList links) { links_ = std::move(links); }

    // The event loop has ended: later launches stop being answered and wait for the lock,
    // which this process keeps until it ends.
    void stopListening();

    // The process id in the lock of the copy that holds the folder (0 when unknown).
    qint64 holderPid() const { return holderPid_; }

    // The lock file and the socket name of a data folder (the socket's name is a hash of the
    // folder's absolute path and the user, so that any two paths give two sockets).
    static std::filesystem::path lockFilePath(const std::filesystem::path& data_folder);
    static QString socketName(const std::filesystem::path& data_folder);

    // What a later launch sends: a line per link (kOpen, a blank, the link's UTF-8 in Base64),
    // then kActivate; and the running copy's answer. A copy that knows no kOpen skips those lines.
    static constexpr const char* kOpen = "open";
    static constexpr const char* kActivate = "activate";
    static constexpr const char* kActivated = "activated";

private:
    bool listen();
    Claim handOver(std::chrono::milliseconds wait);
    void serve();

    void askHolder();

    std::filesystem::path folder_;
    QPointer<QObject> waiting_;  // parent of the wait's timer and socket
    std::function<void(Claim)> settled_;
    QPointer<QLocalServer> server_;
    std::function<void(const QStringList&)> activation_;
    QStringList links_;
    QByteArray request() const;
    qint64 holderPid_ = 0;
};
