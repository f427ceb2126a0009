#pragma once
// The one way a file is saved over FTP and SFTP (saveFile), over small steps each protocol
// gives (SaveSteps). What the steps cannot tell apart is decided here, once:
//   - the version check: a save that expects a version goes ahead only while the server's copy
//     is still that version (checkUnchanged, with VersionCheck.h's one check);
//   - the temporary copy: written beside the file under temporaryName (hidden where the server
//     takes names that begin with "."; the file's extension last, so a web server never hands a
//     copy of a page out as plain text), given the file's permission bits, and put over the file
//     by a rename: one step where the server's rename replaces; where it refuses to rename over
//     the file, the old file is moved aside (asideName) until the new one has its name;
//   - new files (a file made anew, a copy): the same copy, put under the name by a rename that
//     never replaces anything (placeNew), so a name that somebody took meanwhile is refused
//     (alreadyExists) and a broken write never leaves part of the bytes under the name;
//   - links: a link is saved into the file it points to, and kept; where the target cannot be
//     told, the bytes go through the link in place;
//   - the fallback: where the server takes no copy beside the file (a folder the user may not
//     write to, names it refuses), keeps no permission bits on one, or renames nothing (neither
//     over the file, nor the file aside, nor onto a free name), the file is written in place,
//     and the log says so; a new file then is made only where the name is free;
//   - failures: whatever breaks, and at whatever step, the file is either the old one or the new
//     one under its own name (a new file: absent or whole), and the error says which
//     (targetUnchanged; targetIncomplete only for a write in place). A step whose answer never
//     came (the connection broke) is looked at again on a new connection where the steps can
//     make one; copies that cannot be removed (or an old file that cannot be put back) then are
//     remembered in the provider's LeftoverCopies and dealt with by removeLeftovers once the
//     server answers again: a copy goes, an old file whose name is empty is put back under it.
//     A removal the server refuses is refused, on every protocol: the copy stays, and the log
//     names it.
// The steps run on one provider worker, on its connection; none of them blocks another's.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/CurlProvider.h"
#include "platform/files/FileProvider.h"

namespace files::detail {

// "config.php" -> ".config.dravix-1a2b3c4d.php": hidden (without the "." where `hidden` is
// false, for servers that refuse such names), unlikely to meet a name in use, and ending in the
// file's own extension. A web server hands a file out by its last extension: a copy named
// "config.php.dravix-1a2b3c4d.tmp" would be sent as plain text, the PHP source with whatever
// passwords it holds, for as long as a broken save leaves it there; with ".php" last, the copy
// is run like the page itself (or refused, where the server keeps hidden names to itself). A
// name that would pass the usual limit of 255 bytes is shortened to ".dravix-1a2b3c4d.php".
std::string temporaryName(const std::string& name, bool hidden);
// The name the old file takes while a save moves it aside: ".config.dravix-old-1a2b3c4d.php"
// (".dravix-was-" where no "." was put before the name).
std::string asideName(const std::string& name, bool hidden);
// Whether a name is one asideName gives, and the file whose old bytes such a copy holds
// ("config.php" for the name above); nothing for a shortened name, which no longer tells.
bool isAsideCopy(std::string_view copyName);
std::optional<std::string> asideOriginal(std::string_view copyName);

// What the server tells of the file a save is about to replace.
struct TargetFacts {
    enum class Kind { unknown, absent, file, folder, link, other };
    Kind kind = Kind::unknown;
    std::optional<unsigned> mode;  // permission bits, when told
    // The server shows the file but not its permission bits (a listing without them): a copy
    // renamed over it might not keep them.
    bool modeUntold = false;
    std::string linkTarget;  // a link's target as the server shows it, when it does
};

// What one step did.
struct StepResult {
    enum class State {
        done,
        refused,  // the server said no: the step did nothing, and a fallback may apply
        failed,   // an error the save stops at
        lost,     // the connection broke before the answer came: the step may or may not have happened
    };
    State state = State::done;
    std::optional<FileError> error;  // for every state but done
    bool nameRefused = false;         // writeCopy: the server takes no new file of this name here
    std::string said;                 // the server's own words, for the log

    bool ok() const { return state == State::done; }
    static StepResult done() { return {}; }
    static StepResult with(State state, FileError error, std::string said = {}) {
        StepResult r;
        r.state = state;
        r.error = std::move(error);
        r.said = std::move(said);
        return r;
    }
};

// The per-protocol steps of a save. Paths are server paths.
class SaveSteps {
public:
    virtual ~SaveSteps() = default;

    // What the server says of the target before anything is written (a link at least).
    virtual Outcome<TargetFacts> look(const std::string& target) = 0;
    // What it says once the copy was written (FTP learns it in the same exchange); `before` by default.
    virtual Outcome<TargetFacts> lookAgain(const std::string& target, const TargetFacts& before) {
        (void)target;
        return before;
    }
    // The server path of the file a link points to, or nothing (and `why` says why) when it
    // cannot be told for sure.
    virtual Outcome<std::optional<std::string>> followLink(const std::string& link, const TargetFacts& facts,
                                                            std::string& why) = 0;
    // A new file `copy` beside `target` with the bytes, never over anything; `replacing`: the
    // target exists (the copy stays private until it has the target's bits).
    virtual StepResult writeCopy(const std::string& copy, const std::string& target, std::string_view data,
                                 bool replacing) = 0;
    // refused: the copy does not have these bits, and cannot get them.
    virtual StepResult setMode(const std::string& copy, unsigned mode) = 0;
    // The target's modification time and size (notFound when it is gone).
    virtual Outcome<FileVersion> versionNow(const std::string& target) = 0;
    // The target's bytes when it holds at most `limit` of them (nothing when it holds more), and
    // what the server told of it meanwhile into `version`.
    virtual Outcome<std::optional<Bytes>> bytesUpTo(const std::string& target, std::size_t limit,
                                                    FileVersion& version) = 0;
    // Renames the copy over the target in one step; refused where the server does not.
    virtual StepResult replace(const std::string& copy, const std::string& target) = 0;
    // Renames the copy onto the target, never over anything: refused with alreadyExists where
    // something has the name.
    virtual StepResult placeNew(const std::string& copy, const std::string& target) = 0;
    // A plain rename onto a free name.
    virtual StepResult rename(const std::string& from, const std::string& to) = 0;
    // The bytes into the target itself (truncated first). An error once the target was touched
    // carries targetIncomplete. `fresh`: a new file, never over anything (alreadyExists where
    // something has the name).
    virtual StepResult writeInPlace(const std::string& target, std::string_view data, bool fresh) = 0;
    // Removes a file; refused when the server says no (or it is not there), lost when no answer came.
    virtual StepResult remove(const std::string& path) = 0;
    virtual Outcome<bool> exists(const std::string& path) = 0;
    // After a lost step: a working connection for what follows, if one can be had.
    virtual bool reconnect() = 0;
    virtual bool cancelled() const = 0;
    // Breaks the connection as a dropped link would (see setSaveCutHook).
    virtual void cut() = 0;
    // The protocol's name for the log ("FTP", "SFTP").
    virtual std::string_view protocol() const = 0;
};

struct SaveRequest {
    std::string target;  // the server path
    std::string file;    // the provider path, with which leftovers are remembered
    std::string_view data;
    const FileVersion* expected = nullptr;  // a replace's version to check, if any
    // A new file (WriteMode::createNew, a copy): refused with alreadyExists where anything has
    // the name, before or while it is written.
    bool fresh = false;
};

struct SaveResult {
    std::optional<FileError> error;
    std::string savedTo;  // the server path the bytes went to (a link's target)
    // After a write in place broke off: what the server tells of the part it holds, when it
    // could be asked, so that the next save checks against it.
    std::optional<FileVersion> fragment;
};

SaveResult saveFile(SaveSteps& steps, LeftoverCopies& leftovers, const SaveRequest& request);

// Whether the server's copy is still `expected`: changedOnServer or notFound if not.
std::optional<FileError> checkUnchanged(SaveSteps& steps, const std::string& target, const FileVersion& expected);

// The leftovers that earlier saves could not deal with, while the server answers: copies are
// removed, an old file whose name is free again is put back under it.
void removeLeftovers(SaveSteps& steps, LeftoverCopies& leftovers);

// For tests: called before and after each step of a save that touches the server's files
// ("writeCopy", "setMode", "replace", "placeNew", "asideOld", "putNew", "removeOld", "putBack",
// "inPlace", "removeFragment");
// returning true cuts the connection there (before: the step meets a dead connection; after:
// the step happened, its answer is lost). Nothing to clear it.
enum class SaveMoment { before, after };
void setSaveCutHook(std::function<bool(std::string_view step, SaveMoment moment)> hook);

}  // namespace files::detail
