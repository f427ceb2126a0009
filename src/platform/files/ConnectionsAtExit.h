#pragma once
// The libraries under the providers (OpenSSL, libcurl, libssh): their set-up, and the close of
// every provider's connections before their own clean-up when the process ends.
//
// Why: OpenSSL frees its global state (its locks, the random generator, the algorithm tables)
// from an exit handler that it installs the first time it is set up. libcurl and libssh work on
// that state, so a connection closed after the handler ran touches freed memory: libssh's
// sftp_free sends a last packet, whose padding comes from the freed random generator, and
// libcurl frees its TLS sessions. A provider kept in a global is destroyed with the program's
// other globals, and a global made before the libraries were set up goes after their clean-up
// (exit handlers and destructors of globals run in the reverse order of their installation).
// A provider released on a pool thread that the exit does not wait for has the same end.
//
// So setUpLibraries() sets the three libraries up and then installs an exit handler of its own,
// which therefore runs before OpenSSL's. The handler lets the registered exit drains finish
// (uploads in flight, see ExitDrain.h), then closes the connections of every provider still
// alive, and waits for those whose destruction is under way on another thread, all within the
// exit's bound (dispatch::kExitDrainBound). What destroys a provider later finds its workers
// stopped and its connections closed, and calls no library.
//
// A server that stops answering must not hold the exit: the closes run on a thread of their own,
// which the handler waits for only until the bound. Past it, every owner still there has its
// connections cut (their sockets shut down, so what still waits on them fails at once), and the
// handler waits a moment more (kExitCutGrace); a close still running after that is left to end
// with the process.
#include <chrono>
#include <memory>

namespace files::detail {

// How long the exit waits, once the bound passed and the connections were cut, for the closes to
// end before it goes on without them.
inline constexpr std::chrono::seconds kExitCutGrace{2};

// Sets up OpenSSL, libcurl and libssh for the process, and installs the exit handler above.
// Once, from any thread; the providers call it as they are made.
void setUpLibraries();

// What keeps connections open: a provider, whose workers hold them.
class ConnectionOwner {
public:
    virtual ~ConnectionOwner() = default;
    // Stops the workers (their operations complete, cancelled) and closes every connection.
    // Runs once for an owner registered with ExitClosing, from its destructor or at exit.
    virtual void closeConnections() = 0;
    // Shuts the sockets of its connections down at once, from any thread and without waiting,
    // so that what waits on them (a close waiting for a server that stopped answering) fails at
    // once. At exit, when closing has taken longer than the bound. An owner that cannot reach its
    // sockets does nothing.
    virtual void cutConnections() {}
};

// An owner's registration for the close at exit, made right after the owner (a weak link: the
// exit handler holds the owner while it closes its connections, so the owner cannot go
// meanwhile). Destroying it unregisters.
class ExitClosing {
public:
    explicit ExitClosing(std::weak_ptr<ConnectionOwner> owner);
    ~ExitClosing();
    ExitClosing(const ExitClosing&) = delete;
    ExitClosing& operator=(const ExitClosing&) = delete;

    // From the owner's destructor: closes its connections unless the exit handler did.
    void closeOnce(ConnectionOwner& owner);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace files::detail
