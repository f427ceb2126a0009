#include "app/AppInstance.h"

#include <cstring>
#include <memory>
#include <utility>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A request line longer than this is no request of ours.
constexpr qint64 kMaxLine = 64 * 1024;

// The lock: an exclusive flock on the lock file, held through an open descriptor for the rest
// of the process. The kernel lets it go when the process ends however it ends, so a crash
// leaves no lock behind (the file stays, unlocked). Not inherited by child processes.
int takeLock(const std::filesystem::path& file, bool& heldByOther) {
    heldByOther = false;
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldByOther = errno == EWOULDBLOCK;
        ::close(fd);
        return -1;
    }
    // The holder's process id, for the message of a launch that finds it not answering.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    return fd;
}

qint64 readPid(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buffer[32] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    return n > 0 ? std::atoll(buffer) : 0;
}

}  // namespace

AppInstance::AppInstance(std::filesystem::path data_folder) : folder_(std::move(data_folder)) {}

// The lock's descriptor is not closed here: the stores may still write while the process ends
// (their exit drains run after main returns), and the lock must cover them to the last.
AppInstance::~AppInstance() = default;

std::filesystem::path AppInstance::lockFilePath(const std::filesystem::path& data_folder) {
    return data_folder / ".running";
}

QString AppInstance::socketName(const std::filesystem::path& data_folder) {
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(data_folder, ec), ec);
    if (ec) path = data_folder;
    const QByteArray key = QByteArray::number(static_cast<qulonglong>(::getuid())) + '\0' +
                           QByteArray::fromStdString(path.string());
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24);
    return QStringLiteral("DravixFTPClient-") + QString::fromLatin1(hash);
}

AppInstance::Claim AppInstance::claim(std::chrono::milliseconds wait) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);  // the folder alone: no file of the stores
    const auto lockFile = lockFilePath(folder_);
    const auto deadline = Clock::now() + wait;
    for (;;) {
        bool heldByOther = false;
        if (takeLock(lockFile, heldByOther) >= 0) {
            listen();
            return Claim::first;
        }
        // A folder where no lock can be made at all (read-only, full): nothing to settle
        // with, and the stores say for themselves what they cannot write.
        if (!heldByOther) return Claim::first;
        holderPid_ = readPid(lockFile);
        // The holder may be starting (not listening yet) or ending (not listening any more): try
        // its socket, then the lock again, until one of them answers.
        const Claim handed = handOver(deadline > Clock::now() ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                      deadline - Clock::now())
                                                                : std::chrono::milliseconds(0));
        if (handed == Claim::handedOver || Clock::now() >= deadline) return handed;
        QThread::msleep(50);
    }
}

AppInstance::Claim AppInstance::handOver(std::chrono::milliseconds wait) {
    QLocalSocket socket;
    socket.connectToServer(socketName(folder_));
    if (!socket.waitForConnected(static_cast<int>(std::min<std::chrono::milliseconds>(wait, std::chrono::milliseconds(500)).count()))) {
        return Claim::unanswered;
    }
    socket.write(request());
    if (!socket.waitForBytesWritten(static_cast<int>(wait.count()))) return Claim::unanswered;
    // The running copy answers from its event loop, which may still be busy with its launch.
    const auto deadline = Clock::now() + wait;
    while (!socket.canReadLine()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !socket.waitForReadyRead(static_cast<int>(left.count()))) return Claim::unanswered;
    }
    return socket.readLine().trimmed() == kActivated ? Claim::handedOver : Claim::unanswered;
}

void AppInstance::waitForHolder(std::function<void(Claim)> settled) {
    stopWaiting();
    settled_ = std::move(settled);
    waiting_ = new QObject(this);
    auto* timer = new QTimer(waiting_);
    timer->setInterval(250);
    connect(timer, &QTimer::timeout, waiting_, [this] { askHolder(); });
    timer->start();
    askHolder();
}

void AppInstance::stopWaiting() {
    settled_ = nullptr;
    delete waiting_.data();
}

void AppInstance::askHolder() {
    if (!waiting_) return;
    auto settle = [this](Claim claim) {
        auto settled = std::exchange(settled_, nullptr);
        waiting_->deleteLater();
        waiting_ = nullptr;
        if (settled) settled(claim);
    };
    // A holder that ended let its lock go.
    bool heldByOther = false;
    if (takeLock(lockFilePath(folder_), heldByOther) >= 0) {
        listen();
        return settle(Claim::first);
    }
    if (!heldByOther) return settle(Claim::first);
    // One request at a time; a socket that failed or was closed is asked again on the next tick.
    if (waiting_->findChild<QLocalSocket*>()) return;
    auto* socket = new QLocalSocket(waiting_);
    connect(socket, &QLocalSocket::connected, socket, [socket, request = request()] { socket->write(request); });
    connect(socket, &QLocalSocket::readyRead, socket, [socket, settle] {
        if (!socket->canReadLine()) return;
        if (socket->readLine().trimmed() == kActivated) return settle(Claim::handedOver);
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QLocalSocket::errorOccurred, socket, [socket] { socket->deleteLater(); });
    socket->connectToServer(socketName(folder_));
}

QByteArray AppInstance::request() const {
    QByteArray lines;
    for (const QString& link : links_) lines += QByteArray(kOpen) + ' ' + link.toUtf8().toBase64() + '\n';
    return lines + kActivate + '\n';
}

bool AppInstance::listen() {
    const QString name = socketName(folder_);
    // Only the lock's holder listens: a socket there now was left by a copy that died.
    QLocalServer::removeServer(name);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        qWarning("cannot listen for later launches on %s: %s", qPrintable(name), qPrintable(server_->errorString()));
        delete server_.data();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &AppInstance::serve);
    return true;
}

void AppInstance::stopListening() {
    if (server_) server_->close();
}

void AppInstance::serve() {
    if (!server_) return;
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QPointer<AppInstance> self(this);
        auto links = std::make_shared<QStringList>();
        connect(socket, &QLocalSocket::readyRead, socket, [self, socket, links] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine().trimmed();
                if (line.startsWith(QByteArray(kOpen) + ' ')) {
                    links->append(QString::fromUtf8(QByteArray::fromBase64(line.mid(int(std::strlen(kOpen)) + 1))));
                    continue;
                }
                if (line != kActivate) continue;
                const QStringList given = std::exchange(*links, {});
                if (self && self->activation_) self->activation_(given);
                socket->write(QByteArray(kActivated) + '\n');
                socket->flush();
            }
            if (socket->bytesAvailable() > kMaxLine) socket->abort();
        });
    }
}
