#include "platform/files/SftpWire.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

namespace files::sftpwire {

namespace {

// The largest answer taken: OpenSSH sends at most 256 KB a packet; some servers more.
constexpr std::uint32_t kLargestAnswer = 4 * 1024 * 1024;

std::string handleOf(ssh_string handle) {
    return std::string(static_cast<const char*>(ssh_string_data(handle)), ssh_string_len(handle));
}

char* copyOf(std::string_view s) {
    char* out = static_cast<char*>(std::malloc(s.size() + 1));
    if (!out) return nullptr;
    std::memcpy(out, s.data(), s.size());
    out[s.size()] = '\0';
    return out;
}

}  // namespace

void putU32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xff));
}

void putU64(std::string& out, std::uint64_t v) {
    putU32(out, static_cast<std::uint32_t>(v >> 32));
    putU32(out, static_cast<std::uint32_t>(v & 0xffffffffu));
}

void putString(std::string& out, std::string_view s) {
    putU32(out, static_cast<std::uint32_t>(s.size()));
    out.append(s);
}

bool takeU32(std::string_view& in, std::uint32_t& v) {
    if (in.size() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(in[static_cast<std::size_t>(i)]);
    in.remove_prefix(4);
    return true;
}

bool takeU64(std::string_view& in, std::uint64_t& v) {
    std::uint32_t high = 0, low = 0;
    if (!takeU32(in, high) || !takeU32(in, low)) return false;
    v = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
}

bool takeString(std::string_view& in, std::string_view& s) {
    std::uint32_t n = 0;
    if (!takeU32(in, n) || in.size() < n) return false;
    s = in.substr(0, n);
    in.remove_prefix(n);
    return true;
}

std::string openRequest(std::string_view path, std::uint32_t flags, unsigned mode) {
    std::string out;
    putString(out, path);
    putU32(out, flags);
    if (flags & SSH_FXF_CREAT) {
        putU32(out, SSH_FILEXFER_ATTR_PERMISSIONS);
        putU32(out, mode);
    } else {
        putU32(out, 0);
    }
    return out;
}

std::string pathRequest(std::string_view path) {
    std::string out;
    putString(out, path);
    return out;
}

std::string handleRequest(std::string_view handle) { return pathRequest(handle); }

std::string readRequest(std::string_view handle, std::uint64_t offset, std::uint32_t length) {
    std::string out;
    putString(out, handle);
    putU64(out, offset);
    putU32(out, length);
    return out;
}

std::string setModeRequest(std::string_view handle, unsigned mode) {
    std::string out;
    putString(out, handle);
    putU32(out, SSH_FILEXFER_ATTR_PERMISSIONS);
    putU32(out, mode);
    return out;
}

Wire::Wire(sftp_session sftp, std::chrono::milliseconds timeout, std::function<void()> progress)
    : sftp_(sftp),
      timeoutMs_(static_cast<int>(std::clamp<long long>(timeout.count(), 1, INT_MAX))),
      progress_(std::move(progress)) {}

std::uint32_t Wire::send(std::uint8_t type, const std::string& afterId) {
    const std::uint32_t id = ++sftp_->id_counter;
    std::string packet;
    packet.reserve(afterId.size() + 9);
    putU32(packet, static_cast<std::uint32_t>(afterId.size() + 5));
    packet.push_back(static_cast<char>(type));
    putU32(packet, id);
    packet += afterId;
    const int n = ssh_channel_write(sftp_->channel, packet.data(), static_cast<std::uint32_t>(packet.size()));
    return n == static_cast<int>(packet.size()) ? id : 0;
}

// libssh 0.10 has no call that sets a channel's window; a read that asks for more than the
// window and what is buffered hold tops the window up to what it asks. The read asked here is of
// the channel's extended data, which an SFTP server does not send, so no byte of an answer is
// taken; the session is non-blocking for it, so it does not wait, and what it might find (a
// server's error text) is dropped.
void widenReceiveWindow(ssh_channel channel) {
    ssh_session session = ssh_channel_get_session(channel);
    const int blocking = ssh_is_blocking(session);
    const std::unique_ptr<char[]> sink(new char[kReceiveWindow]);  // never written unless such text came
    ssh_set_blocking(session, 0);
    ssh_channel_read_timeout(channel, sink.get(), kReceiveWindow, 1, 0);
    ssh_set_blocking(session, blocking);
}

bool Wire::receiveAny(Answer& answer) {
    // The window is topped up once half of it went (libssh's own would only below 640 KB).
    if (!widened_ || sinceWidened_ >= kReceiveWindow / 2) {
        widenReceiveWindow(sftp_->channel);
        widened_ = true;
        sinceWidened_ = 0;
    }
    auto readExactly = [&](char* out, std::size_t n) {
        for (std::size_t got = 0; got < n;) {
            const int r = ssh_channel_read_timeout(sftp_->channel, out + got, static_cast<std::uint32_t>(n - got), 0, timeoutMs_);
            if (r <= 0) return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    };
    char head[4];
    if (!readExactly(head, 4)) return false;
    std::string_view h(head, 4);
    std::uint32_t length = 0;
    takeU32(h, length);
    if (length < 5 || length > kLargestAnswer) return false;
    std::string packet(length, '\0');
    if (!readExactly(packet.data(), length)) return false;
    sinceWidened_ += 4 + length;
    std::string_view in(packet);
    answer.type = static_cast<std::uint8_t>(in[0]);
    in.remove_prefix(1);
    takeU32(in, answer.id);
    answer.body.assign(in);
    if (progress_) progress_();
    return true;
}

sftp_session start(ssh_session ssh, std::chrono::milliseconds timeout, Wire::Extensions& extensions, const char* subsystem) {
    ssh_channel channel = ssh_channel_new(ssh);
    if (!channel) return nullptr;
    if (ssh_channel_open_session(channel) != SSH_OK) {
        ssh_channel_free(channel);
        return nullptr;
    }
    sftp_session sftp = sftp_new_channel(ssh, channel);  // which owns the channel from here
    if (!sftp) {
        ssh_channel_free(channel);
        return nullptr;
    }
    // The request goes without waiting: asked again, libssh takes in its answer.
    const int blocking = ssh_is_blocking(ssh);
    ssh_set_blocking(ssh, 0);
    int rc = ssh_channel_request_subsystem(channel, subsystem);
    ssh_set_blocking(ssh, blocking);
    std::string init;
    putU32(init, 5);
    init.push_back(static_cast<char>(SSH_FXP_INIT));
    putU32(init, 3);
    // INIT goes at once where the server gave the channel room for it. OpenSSH's sshd gives a
    // session channel none until its subsystem runs (the room comes with the request's answer):
    // there INIT follows the answer, or a refusal would leave it waiting for room that never
    // comes.
    const auto sendInit = [&] {
        return ssh_channel_write(channel, init.data(), static_cast<std::uint32_t>(init.size())) == static_cast<int>(init.size());
    };
    const bool early = ssh_channel_window_size(channel) >= init.size();
    Wire wire(sftp, timeout);
    Wire::Answer version;  // VERSION: the version where other answers have their id
    const bool started = (rc == SSH_OK || rc == SSH_AGAIN) && (!early || sendInit()) &&
                         (rc == SSH_OK || ssh_channel_request_subsystem(channel, subsystem) == SSH_OK) &&  // waits up to the timeout
                         (early || sendInit()) && wire.receiveAny(version) && version.type == SSH_FXP_VERSION;
    if (!started) {
        sftp_free(sftp);
        return nullptr;
    }
    sftp->version = sftp->server_version = static_cast<int>(version.id);
    std::string_view in(version.body);
    extensions.clear();
    for (std::string_view name, data; takeString(in, name) && takeString(in, data);)
        extensions.emplace_back(std::string(name), std::string(data));
    return sftp;
}

bool Wire::receive(Answer& answer, const std::function<bool(std::uint32_t)>& mine) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (!mine(it->first)) continue;
        answer = std::move(it->second);
        kept_.erase(it);
        return true;
    }
    for (;;) {
        if (!receiveAny(answer)) return false;
        if (mine(answer.id)) return true;
        if (owed_) {
            if (const auto it = std::find(owed_->begin(), owed_->end(), answer.id); it != owed_->end()) {
                owed_->erase(it);
                continue;
            }
        }
        // An answer to nothing asked: the channel is out of step.
        if (!posted_.count(answer.id) || kept_.count(answer.id)) return false;
        kept_.emplace(answer.id, std::move(answer));
    }
}

std::uint32_t Wire::post(std::uint8_t type, const std::string& afterId) {
    const std::uint32_t id = send(type, afterId);
    if (id) posted_.insert(id);
    return id;
}

std::uint32_t Wire::closeLater(std::string_view handle, std::vector<std::uint32_t>& owed) {
    const std::uint32_t id = send(SSH_FXP_CLOSE, handleRequest(handle));
    if (id) owed.push_back(id);
    owed_ = &owed;
    return id;
}

bool Wire::settle(std::vector<std::uint32_t>& owed) {
    while (!owed.empty()) {
        Answer answer;
        if (!receiveAny(answer)) return false;
        const auto it = std::find(owed.begin(), owed.end(), answer.id);
        if (it == owed.end()) return false;
        owed.erase(it);
    }
    return true;
}

bool Wire::await(std::uint32_t id, Answer& answer) {
    if (!posted_.count(id)) return false;
    const bool got = receive(answer, [id](std::uint32_t x) { return x == id; });
    posted_.erase(id);
    return got;
}

Result Wire::awaitStatus(std::uint32_t id) {
    Answer answer;
    if (!await(id, answer)) return Result::lost();
    return statusOf(answer);
}

namespace {

// The refusal an answer that is not the one asked for tells: its status, and a status "OK" (no
// handle, no attributes where they were due) as a message not understood.
Result refusalOf(const Wire::Answer& answer) {
    const Result status = Wire::statusOf(answer);
    return status ? Result::refused(SSH_FX_BAD_MESSAGE) : status;
}

}  // namespace

Result Wire::handleIn(const Answer& answer, std::string& handle) {
    if (answer.type != SSH_FXP_HANDLE) return refusalOf(answer);
    std::string_view in(answer.body), h;
    if (!takeString(in, h)) return Result::lost();
    handle.assign(h);
    return Result::ok();
}

Result Wire::attributesIn(const Answer& answer, sftp_attributes& attributes) {
    attributes = nullptr;
    if (answer.type != SSH_FXP_ATTRS) return refusalOf(answer);
    std::string_view in(answer.body);
    attributes = parseAttributes(in);
    return attributes ? Result::ok() : Result::lost();
}

Result Wire::statusOf(const Answer& answer) {
    if (answer.type != SSH_FXP_STATUS) return Result::refused(SSH_FX_BAD_MESSAGE);
    std::string_view in(answer.body);
    std::uint32_t code = SSH_FX_BAD_MESSAGE;
    takeU32(in, code);
    return code == SSH_FX_OK ? Result::ok() : Result::refused(static_cast<int>(code));
}

sftp_attributes Wire::parseAttributes(std::string_view& in) {
    auto* a = static_cast<sftp_attributes>(std::calloc(1, sizeof(struct sftp_attributes_struct)));
    if (!a) return nullptr;
    bool ok = takeU32(in, a->flags);
    if (ok && (a->flags & SSH_FILEXFER_ATTR_SIZE)) ok = takeU64(in, a->size);
    if (ok && (a->flags & SSH_FILEXFER_ATTR_UIDGID)) ok = takeU32(in, a->uid) && takeU32(in, a->gid);
    if (ok && (a->flags & SSH_FILEXFER_ATTR_PERMISSIONS)) ok = takeU32(in, a->permissions);
    if (ok && (a->flags & SSH_FILEXFER_ATTR_ACMODTIME)) {
        ok = takeU32(in, a->atime) && takeU32(in, a->mtime);
        a->atime64 = a->atime;
        a->mtime64 = a->mtime;
    }
    if (ok && (a->flags & SSH_FILEXFER_ATTR_EXTENDED)) {
        std::uint32_t count = 0;
        ok = takeU32(in, count);
        for (std::uint32_t i = 0; ok && i < count; ++i) {
            std::string_view type, data;
            ok = takeString(in, type) && takeString(in, data);
        }
    }
    if (!ok) {
        sftp_attributes_free(a);
        return nullptr;
    }
    a->type = SSH_FILEXFER_TYPE_UNKNOWN;
    if (a->flags & SSH_FILEXFER_ATTR_PERMISSIONS) {
        switch (a->permissions & S_IFMT) {
            case S_IFREG: a->type = SSH_FILEXFER_TYPE_REGULAR; break;
            case S_IFDIR: a->type = SSH_FILEXFER_TYPE_DIRECTORY; break;
            case S_IFLNK: a->type = SSH_FILEXFER_TYPE_SYMLINK; break;
            case S_IFSOCK:
            case S_IFBLK:
            case S_IFCHR:
            case S_IFIFO: a->type = SSH_FILEXFER_TYPE_SPECIAL; break;
            default: break;
        }
    }
    return a;
}

bool Wire::namesIn(std::string_view body, const std::function<void(sftp_attributes)>& entry) {
    std::uint32_t count = 0;
    if (!takeU32(body, count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view name, longname;
        if (!takeString(body, name) || !takeString(body, longname)) return false;
        sftp_attributes a = parseAttributes(body);
        if (!a) return false;
        a->name = copyOf(name);
        a->longname = copyOf(longname);
        entry(a);
    }
    return true;
}

bool Wire::answerWaiting(const std::map<std::uint32_t, Answer>& early, std::uint32_t next) const {
    if (early.count(next) || kept_.count(next)) return true;
    return ssh_channel_poll(sftp_->channel, 0) > 0;
}

Result Wire::readDirectory(sftp_dir dir, const std::function<void(sftp_attributes)>& entry, Window window) {
    std::string request;
    putString(request, handleOf(dir->handle));
    std::deque<std::uint32_t> pending;  // in the order sent: the entries come in that order
    std::map<std::uint32_t, Answer> early;  // answers that overtook an earlier request's
    int limit = window.initial;
    bool end = false;
    Result outcome = Result::ok();
    auto fill = [&] {
        while (!end && outcome && static_cast<int>(pending.size()) < limit) {
            const std::uint32_t id = send(SSH_FXP_READDIR, request);
            if (!id) return false;
            pending.push_back(id);
        }
        return true;
    };
    if (!fill()) return Result::lost();
    while (!pending.empty()) {
        Answer answer;
        if (auto it = early.find(pending.front()); it != early.end()) {
            answer = std::move(it->second);
            early.erase(it);
        } else {
            if (!receive(answer, [&](std::uint32_t id) {
                    return std::find(pending.begin(), pending.end(), id) != pending.end();
                }))
                return Result::lost();
            if (answer.id != pending.front()) {
                early.emplace(answer.id, std::move(answer));
                continue;
            }
        }
        pending.pop_front();
        if (answer.type == SSH_FXP_NAME) {
            if (end || !outcome) continue;  // after the end or a failure, what is left is only read
            if (!namesIn(answer.body, entry)) return Result::lost();
            limit = std::min(limit + 1, window.most);
        } else {
            const Result status = statusOf(answer);
            if (status.kind == Result::Kind::status && status.status == SSH_FX_EOF) end = true;
            else if (!status && outcome) outcome = status;
        }
        // The answers that are here already are read before more requests go: a small folder's
        // end (its second answer) comes in the same flight as its entries, and requests sent
        // before it was read would cost a round trip more for nothing.
        if ((pending.empty() || !answerWaiting(early, pending.front())) && !fill()) return Result::lost();
    }
    if (outcome) dir->eof = 1;
    return outcome;
}

Result Wire::write(sftp_file file, std::uint64_t offset, std::string_view data, std::size_t chunk, Window window,
                   const std::function<void()>& sent, const std::function<void()>& then) {
    const Result outcome = writeHandle(handleOf(file->handle), offset, data, chunk, window, sent, then);
    if (outcome) file->offset = offset + data.size();
    return outcome;
}

Result Wire::writeHandle(std::string_view handle, std::uint64_t offset, std::string_view data, std::size_t chunk,
                         Window window, const std::function<void()>& sent, const std::function<void()>& then) {
    std::size_t at = 0;
    std::set<std::uint32_t> pending;
    int limit = window.initial;
    Result outcome = Result::ok();
    bool first = true;
    auto fill = [&] {
        while (at < data.size() && outcome && static_cast<int>(pending.size()) < limit) {
            const std::size_t n = std::min(chunk, data.size() - at);
            std::string request;
            request.reserve(handle.size() + n + 20);
            putString(request, handle);
            putU64(request, offset + at);
            putString(request, data.substr(at, n));
            if (first && sent) sent();
            first = false;
            const std::uint32_t id = send(SSH_FXP_WRITE, request);
            if (!id) return false;
            pending.insert(id);
            at += n;
            if (at == data.size() && then) then();
        }
        return true;
    };
    if (data.empty() && then) then();
    if (!fill()) return Result::lost();
    while (!pending.empty()) {
        Answer answer;
        if (!receive(answer, [&](std::uint32_t id) { return pending.count(id) > 0; })) return Result::lost();
        pending.erase(answer.id);
        const Result status = statusOf(answer);
        if (!status && outcome) outcome = status;
        limit = std::min(limit + 1, window.most);
        if (!fill()) return Result::lost();
    }
    return outcome;
}

Result Wire::read(sftp_file file, std::uint64_t offset, std::string& out, std::optional<std::uint64_t> sizeHint,
                  std::size_t chunk, Window window, sftp_attributes* attributes) {
    const std::size_t before = out.size();
    const Result outcome = readHandle(handleOf(file->handle), offset, out, sizeHint, chunk, window, attributes);
    if (outcome) file->offset = offset + (out.size() - before);
    return outcome;
}

Result Wire::readHandle(std::string_view handle, std::uint64_t offset, std::string& out, std::optional<std::uint64_t> sizeHint,
                        std::size_t chunk, Window window, sftp_attributes* attributes) {
    std::uint32_t statId = 0;
    if (attributes) {
        *attributes = nullptr;
        std::string request;
        putString(request, handle);
        statId = send(SSH_FXP_FSTAT, request);
        if (!statId) return Result::lost();
    }
    struct Ask {
        std::uint64_t at;
        std::uint32_t length;
    };
    std::map<std::uint32_t, Ask> pending;
    std::deque<Ask> again;                     // parts a short answer left out, asked for first
    std::map<std::uint64_t, std::string> got;  // by offset
    std::uint64_t next = offset;
    std::uint64_t end = UINT64_MAX;  // where the file ends, once an answer said so
    int limit = window.initial;
    Result outcome = Result::ok();
    auto ask = [&](Ask a) {
        std::string request;
        putString(request, handle);
        putU64(request, a.at);
        putU32(request, a.length);
        const std::uint32_t id = send(SSH_FXP_READ, request);
        if (!id) return false;
        pending.emplace(id, a);
        return true;
    };
    auto fill = [&] {
        while (outcome && static_cast<int>(pending.size()) < limit) {
            if (!again.empty()) {
                if (!ask(again.front())) return false;
                again.pop_front();
                continue;
            }
            // Past a known size, one request only, to see the end (the file may have grown).
            if (next >= end || (sizeHint && next > offset + *sizeHint && !pending.empty())) break;
            if (!ask({next, static_cast<std::uint32_t>(chunk)})) return false;
            next += chunk;
        }
        return true;
    };
    if (!fill()) return Result::lost();
    while (!pending.empty() || statId) {
        Answer answer;
        if (!receive(answer, [&](std::uint32_t id) { return (statId && id == statId) || pending.count(id) > 0; }))
            return Result::lost();
        if (statId && answer.id == statId) {
            statId = 0;
            if (answer.type == SSH_FXP_ATTRS) {
                std::string_view in(answer.body);
                *attributes = parseAttributes(in);
                if (!*attributes) return Result::lost();
                if (((*attributes)->flags & SSH_FILEXFER_ATTR_SIZE) && !sizeHint) sizeHint = (*attributes)->size;
            } else if (const Result status = statusOf(answer); !status && outcome) {
                outcome = status;
            }
            if (!fill()) return Result::lost();
            continue;
        }
        auto it = pending.find(answer.id);
        if (it == pending.end()) return Result::lost();
        const Ask a = it->second;
        pending.erase(it);
        if (answer.type == SSH_FXP_DATA) {
            std::string_view in(answer.body), bytes;
            if (!takeString(in, bytes) || bytes.size() > a.length) return Result::lost();
            const std::uint64_t stop = a.at + bytes.size();
            if (!bytes.empty() && a.at < end) got[a.at].assign(bytes);
            if (bytes.empty()) {
                end = std::min(end, a.at);
            } else if (bytes.size() < a.length) {
                // Short of what was asked: the end when it reaches the size the file had when
                // opened (asking again would only hear "end of file"), else the rest is asked for.
                if (sizeHint && stop >= offset + *sizeHint) end = std::min(end, stop);
                else if (stop < end) again.push_back({stop, a.length - static_cast<std::uint32_t>(bytes.size())});
            }
        } else {
            const Result status = statusOf(answer);
            if (status.kind == Result::Kind::status && status.status == SSH_FX_EOF) {
                end = std::min(end, a.at);
                // Parts asked for again past the end are not needed.
                again.erase(std::remove_if(again.begin(), again.end(), [&](const Ask& x) { return x.at >= end; }), again.end());
            } else if (!status && outcome) {
                outcome = status;
            }
        }
        limit = std::min(limit + 1, window.most);
        if (!fill()) return Result::lost();
    }
    if (!outcome) return outcome;
    // The parts in order, up to the end or the first gap (a part that said end of file).
    std::size_t total = 0;
    for (const auto& part : got) total += part.second.size();
    out.reserve(out.size() + total);
    std::uint64_t at = offset;
    for (auto& [where, bytes] : got) {
        if (where != at || where >= end) break;
        const std::uint64_t n = std::min<std::uint64_t>(bytes.size(), end - where);
        out.append(bytes, 0, static_cast<std::size_t>(n));
        at += n;
    }
    return Result::ok();
}

Result Wire::extended(std::string_view name, const std::vector<std::string_view>& strings) {
    std::string request;
    putString(request, name);
    for (auto s : strings) putString(request, s);
    const std::uint32_t id = send(SSH_FXP_EXTENDED, request);
    if (!id) return Result::lost();
    Answer answer;
    if (!receive(answer, [id](std::uint32_t x) { return x == id; })) return Result::lost();
    return statusOf(answer);
}

}  // namespace files::sftpwire
