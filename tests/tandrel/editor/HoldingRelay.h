#pragma once
// A TCP relay on 127.0.0.1 between the app and a local server that can hold the first upload back
// (or the first of other commands a test names, a rename's "MOVE " or "RNTO "):
// the client's bytes from the first line that starts with an upload command ("PUT " of WebDAV,
// "STOR " or "APPE " on an FTP control connection) wait in the relay until release(). Everything
// else passes both ways as it comes. FTP data connections do not pass here: the client opens
// them to the server's passive port on the same address.
//
// It lets a test keep one write of a file "in flight" for as long as it needs, without timing:
// what the app does meanwhile is decided by the app alone. Runs on the thread of the test's event
// loop (the waits of the tests spin it).
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace relaytest {

class HoldingRelay : public QObject {
public:
    // `markers`: the commands that are held (the uploads unless told otherwise).
    explicit HoldingRelay(int upstream_port, std::vector<QByteArray> markers = {"PUT ", "STOR ", "APPE "})
        : upstream_port_(upstream_port), markers_(std::move(markers)) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection()) accept(client);
        });
    }
    ~HoldingRelay() override {
        for (auto& link : links_) {
            if (link->client) link->client->abort();
            if (link->upstream) link->upstream->abort();
        }
    }

    int port() const { return server_.serverPort(); }
    // Runs as each upload command arrives, before it is held or passed on: what the app had done
    // by the time it sent it.
    std::function<void()> on_upload;
    // Upload commands seen so far (the held one included).
    int uploads() const { return uploads_; }
    // The first upload waits in the relay.
    bool holding() const { return held_ && held_->held; }
    // The client closed the connection whose command was held, without waiting for its answer.
    bool client_left_while_held() const { return client_left_while_held_; }
    // Lets the held upload go on.
    void release() {
        if (!held_ || !held_->held) return;
        held_->held = false;
        send(*held_, std::exchange(held_->held_bytes, {}));
    }

private:
    struct Link {
        QTcpSocket* client = nullptr;
        QTcpSocket* upstream = nullptr;
        QByteArray not_sent;    // before the upstream connection is up
        QByteArray carry;       // the start of what may be an upload command
        QByteArray held_bytes;  // while held
        bool held = false;
        bool upstream_up = false;
    };

    void accept(QTcpSocket* client) {
        auto link = std::make_unique<Link>();
        Link* l = link.get();
        links_.push_back(std::move(link));
        l->client = client;
        client->setParent(this);
        l->upstream = new QTcpSocket(this);
        QObject::connect(l->upstream, &QTcpSocket::connected, this, [this, l] {
            l->upstream_up = true;
            if (!l->not_sent.isEmpty()) l->upstream->write(std::exchange(l->not_sent, {}));
        });
        QObject::connect(l->upstream, &QTcpSocket::readyRead, this, [l] {
            if (l->client) l->client->write(l->upstream->readAll());
        });
        QObject::connect(l->upstream, &QTcpSocket::disconnected, this, [l] {
            if (l->client) l->client->disconnectFromHost();
        });
        QObject::connect(client, &QTcpSocket::readyRead, this, [this, l] { from_client(*l, l->client->readAll()); });
        QObject::connect(client, &QTcpSocket::disconnected, this, [this, l] {
            if (l->held) client_left_while_held_ = true;
            if (l->upstream) l->upstream->disconnectFromHost();
        });
        l->upstream->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(upstream_port_));
    }

    void send(Link& l, const QByteArray& bytes) {
        if (bytes.isEmpty()) return;
        if (l.upstream_up) l.upstream->write(bytes);
        else l.not_sent += bytes;
    }

    // The client's bytes: looks for upload commands at the start of each line (and of each read,
    // where a request begins), holds the first one, passes the rest.
    void from_client(Link& l, QByteArray data) {
        if (l.held) {
            l.held_bytes += data;
            return;
        }
        QByteArray buffer = std::exchange(l.carry, {}) + data;
        qsizetype passed = 0;  // bytes of `buffer` already handed on
        qsizetype at = 0;      // a line start
        while (at < buffer.size()) {
            const QByteArray rest = buffer.mid(at);
            for (const QByteArray& marker : markers_) {
                if (rest.size() < marker.size() && marker.startsWith(rest)) {
                    // Maybe the start of a command: wait for the rest of it.
                    send(l, buffer.mid(passed, at - passed));
                    l.carry = rest;
                    return;
                }
                if (!rest.startsWith(marker)) continue;
                ++uploads_;
                if (on_upload) on_upload();
                if (!held_) {
                    send(l, buffer.mid(passed, at - passed));
                    held_ = &l;
                    l.held = true;
                    l.held_bytes = rest;
                    return;
                }
            }
            const qsizetype line_end = buffer.indexOf("\r\n", at);
            if (line_end < 0) break;
            at = line_end + 2;
        }
        send(l, buffer.mid(passed));
    }

    QTcpServer server_;
    int upstream_port_;
    std::vector<QByteArray> markers_;
    std::vector<std::unique_ptr<Link>> links_;
    Link* held_ = nullptr;
    int uploads_ = 0;
    bool client_left_while_held_ = false;
};

}  // namespace relaytest
