#include "platform/files/Save.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/files/VersionCheck.h"
#include "platform/log/Log.h"

namespace files::detail {

namespace {

constexpr std::string_view kMark = ".dravix-";
constexpr std::string_view kOldMark = ".dravix-old-";     // an aside copy whose name got a "." before it
constexpr std::string_view kOldMarkAsIs = ".dravix-was-";  // one whose name did not
constexpr int kMaxLinkHops = 8;

std::string randomTag() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    char tag[9];
    std::lock_guard lock(mutex);
    std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(random() & 0xffffffffu));
    return tag;
}

std::string markedName(const std::string& name, bool hidden, std::string_view mark) {
    const std::string tag = randomTag();
    // The extension: from the last "." that is not the name's first character.
    const std::size_t dotAt = name.rfind('.');
    const bool hasExtension = dotAt != std::string::npos && dotAt > 0;
    const std::string stem = hasExtension ? name.substr(0, dotAt) : name;
    std::string extension = hasExtension ? name.substr(dotAt) : std::string();
    const std::string dot = hidden && !name.empty() && name.front() != '.' ? "." : "";
    std::string temp = dot + stem + std::string(mark) + tag + extension;
    if (temp.size() > 255) {  // the usual name length limit
        if (extension.size() > 32) extension.clear();
        temp = dot + std::string(mark.substr(1)) + tag + extension;
    }
    return temp;
}

std::mutex hookMutex;
std::function<bool(std::string_view, SaveMoment)> cutHook;

bool cutAt(SaveSteps& steps, std::string_view step, SaveMoment moment) {
    std::function<bool(std::string_view, SaveMoment)> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = cutHook;
    }
    if (!hook || !hook(step, moment)) return false;
    steps.cut();
    return true;
}

FileError brokeOff() { return FileError::make(ErrorKind::other, "the connection to the server broke off"); }

FileError unchanged(FileError error) {
    error.targetUnchanged = true;
    return error;
}

void logPlainWrite(const SaveSteps& steps, const std::string& target, const std::string& why) {
    xlog::logWarning(std::string(steps.protocol()) + " save of " + target +
                         " writes the file in place, without a temporary copy: " + why,
                     __FILE__, "saveFile", __LINE__);
}

class Saver {
public:
    Saver(SaveSteps& steps, LeftoverCopies& leftovers, const SaveRequest& request)
        : steps_(steps), leftovers_(leftovers), request_(request) {}

    SaveResult save(const std::string& target, int hops) {
        const bool fresh = request_.fresh;
        auto looked = steps_.look(target);
        if (looked.error) return fail(*looked.error);
        TargetFacts facts = looked.value;
        if (fresh && taken(facts)) return fail(nameTaken(facts));
        if (facts.kind == TargetFacts::Kind::link) return throughLink(target, facts, hops);
        if (facts.kind == TargetFacts::Kind::folder || facts.kind == TargetFacts::Kind::other) return fail(notAFile(facts));
        if (facts.kind == TargetFacts::Kind::absent && request_.expected) return fail(FileError::make(ErrorKind::notFound));

        const std::string folder = path::parent(target), name = path::lastComponent(target);
        const bool replacing = !fresh && facts.kind != TargetFacts::Kind::absent;
        bool hidden = true;
        std::string copy = path::join(folder, temporaryName(name, true));
        StepResult w = step("writeCopy", [&] { return steps_.writeCopy(copy, target, request_.data, replacing); });
        if (w.nameRefused) {
            const std::string first = copy, firstSaid = w.said;
            hidden = false;
            copy = path::join(folder, temporaryName(name, false));
            w = step("writeCopy", [&] { return steps_.writeCopy(copy, target, request_.data, replacing); });
            if (w.nameRefused) {
                logPlainWrite(steps_, target, "the server refused the temporary files " + first + " (" + firstSaid +
                                                  ") and " + copy + " (" + w.said + ")");
                return inPlace(target, facts);
            }
        }
        if (!w.ok()) {
            if (w.error->kind == ErrorKind::parentMissing) return fail(*w.error);
            discard(copy, w);
            return fail(unchanged(*w.error));
        }

        auto again = steps_.lookAgain(target, facts);
        if (again.error) {
            discard(copy, again.error->kind == ErrorKind::timedOut ? StepResult::State::lost : StepResult::State::failed);
            return fail(unchanged(*again.error));
        }
        facts = again.value;
        if (fresh && taken(facts)) {  // somebody took the name while the copy went up
            discard(copy);
            return fail(nameTaken(facts));
        }
        if (facts.kind == TargetFacts::Kind::link) {
            discard(copy);
            return throughLink(target, facts, hops);
        }
        if (facts.kind == TargetFacts::Kind::folder || facts.kind == TargetFacts::Kind::other) {
            discard(copy);
            return fail(notAFile(facts));
        }
        if (!fresh && facts.modeUntold && facts.kind != TargetFacts::Kind::absent) {
            // A copy might not keep bits that nobody can tell: a private file could become readable.
            discard(copy);
            logPlainWrite(steps_, target,
                          facts.kind == TargetFacts::Kind::file
                              ? "the server's listing does not show the file's permissions"
                              : "the server's listings did not tell whether the file exists and with which permissions");
            return inPlace(target, facts);
        }
        if (facts.mode) {
            StepResult m = step("setMode", [&] { return steps_.setMode(copy, *facts.mode); });
            if (m.state == StepResult::State::refused) {
                discard(copy);
                logPlainWrite(steps_, target, m.said);
                return inPlace(target, facts);
            }
            if (!m.ok()) {
                discard(copy, m);
                return fail(unchanged(*m.error));
            }
        }
        if (steps_.cancelled()) {
            discard(copy, StepResult::State::lost);
            return fail(unchanged(FileError::make(ErrorKind::cancelled)));
        }
        if (request_.expected) {
            if (auto changed = checkUnchanged(steps_, target, *request_.expected)) {
                discard(copy, changed->kind == ErrorKind::timedOut ? StepResult::State::lost : StepResult::State::failed);
                return fail(unchanged(*changed));
            }
        }

        if (fresh) return place(copy, target, facts);
        StepResult r = step("replace", [&] { return steps_.replace(copy, target); });
        if (r.ok()) return saved(target);
        if (r.state == StepResult::State::lost) return afterLostReplace(copy, target, *r.error);
        if (r.state == StepResult::State::failed) {
            discard(copy);
            return fail(unchanged(*r.error));
        }
        const std::string refused = "the server refused to rename the temporary file over it (" + r.said + ")";
        if (replacing) return aside(copy, target, hidden, facts, refused);
        return renamedNothing(copy, target, facts, refused);
    }

private:
    template <typename F>
    StepResult step(std::string_view name, F&& f) {
        const bool cutBefore = cutAt(steps_, name, SaveMoment::before);
        StepResult r = f();
        if (cutBefore && r.state != StepResult::State::lost && !r.ok()) r.state = StepResult::State::lost;
        if (r.ok() && cutAt(steps_, name, SaveMoment::after)) r = StepResult::with(StepResult::State::lost, brokeOff());
        return r;
    }

    SaveResult saved(const std::string& target) {
        SaveResult result;
        result.savedTo = target;
        return result;
    }
    // Something has the name a new file is to take.
    static bool taken(const TargetFacts& facts) {
        return facts.kind != TargetFacts::Kind::absent && facts.kind != TargetFacts::Kind::unknown;
    }
    static FileError nameTaken(const TargetFacts& facts) {
        if (facts.kind == TargetFacts::Kind::file || facts.kind == TargetFacts::Kind::link)
            return unchanged(FileError::make(ErrorKind::alreadyExists));
        return notAFile(facts);
    }
    static FileError notAFile(const TargetFacts& facts) {
        return unchanged(FileError::make(ErrorKind::alreadyExists, facts.kind == TargetFacts::Kind::folder
                                                                       ? "a folder has that name"
                                                                       : "something that is not a file has that name"));
    }
    static SaveResult fail(FileError error) {
        SaveResult result;
        result.error = std::move(error);
        return result;
    }

    // Removes a copy the save no longer needs; where the connection is gone, or the server does
    // not answer, it is remembered, to go once the server answers again.
    void discard(const std::string& copy, StepResult::State why = StepResult::State::failed) {
        if (why != StepResult::State::lost && !steps_.cancelled()) {
            StepResult removed = steps_.remove(copy);
            // Refused also where no copy was made (an upload the server refused at once): only
            // one that is there stays.
            if (removed.state == StepResult::State::refused) {
                if (auto there = steps_.exists(copy); there.error || there.value) logKept("temporary file", copy, removed);
            }
            if (removed.state != StepResult::State::lost) return;
        }
        leftovers_.remember(request_.file, copy);
    }
    void discard(const std::string& copy, const StepResult& failed) { discard(copy, failed.state); }
    // A removal the server refused: what stays, and the server's words, go to the log.
    void logKept(std::string_view what, const std::string& path, const StepResult& refused) const {
        xlog::logWarning(std::string(steps_.protocol()) + ": the server refused to remove the " + std::string(what) + " " +
                             path + ", which stays (" + (refused.said.empty() ? refused.error->message : refused.said) + ")",
                         __FILE__, "saveFile", __LINE__);
    }

    SaveResult throughLink(const std::string& link, const TargetFacts& facts, int hops) {
        std::string why;
        if (hops >= kMaxLinkHops) {
            why = "it is one of more than " + std::to_string(kMaxLinkHops) + " links in a row";
        } else {
            auto followed = steps_.followLink(link, facts, why);
            if (followed.error) return fail(*followed.error);
            if (followed.value) return save(*followed.value, hops + 1);
        }
        logPlainWrite(steps_, link, "it is a symbolic link and " + why + "; the bytes are written through the link");
        return inPlace(link, facts);
    }

    // A new file's copy takes the name, never over anything.
    SaveResult place(const std::string& copy, const std::string& target, const TargetFacts& facts) {
        StepResult p = step("placeNew", [&] { return steps_.placeNew(copy, target); });
        if (p.ok()) return saved(target);
        if (p.state == StepResult::State::lost) return afterLostReplace(copy, target, *p.error);
        if (p.state == StepResult::State::failed || p.error->kind == ErrorKind::alreadyExists) {
            discard(copy);
            return fail(unchanged(*p.error));
        }
        return renamedNothing(copy, target, facts,
                              "the server refused to rename the temporary file onto the free name (" + p.said + ")");
    }

    // A server that renames nothing here: the bytes go into the file itself.
    SaveResult renamedNothing(const std::string& copy, const std::string& target, const TargetFacts& facts,
                              const std::string& why) {
        discard(copy);
        logPlainWrite(steps_, target, why);
        return inPlace(target, facts);
    }

    // The plain write over the file itself, for a save that nothing else can make safe. A new
    // file that broke off while written is this save's own: it is removed where the server
    // answers, so that its name is free again.
    SaveResult inPlace(const std::string& target, const TargetFacts& facts) {
        if (facts.kind == TargetFacts::Kind::absent && request_.expected) return fail(FileError::make(ErrorKind::notFound));
        if (request_.expected) {
            if (auto changed = checkUnchanged(steps_, target, *request_.expected)) return fail(unchanged(*changed));
        }
        StepResult w = step("inPlace", [&] { return steps_.writeInPlace(target, request_.data, request_.fresh); });
        if (w.ok()) return saved(target);
        FileError error = *w.error;
        if (!error.targetIncomplete) {
            // Refused before any byte: the file is as it was; an answer lost after the write
            // began leaves it unknown how much of the file was written.
            if (w.state == StepResult::State::lost && !w.error->targetUnchanged) error.targetIncomplete = true;
            else error.targetUnchanged = true;
        }
        SaveResult result = fail(std::move(error));
        if (result.error->targetIncomplete && !steps_.cancelled() && steps_.reconnect()) {
            if (request_.fresh && step("removeFragment", [&] { return steps_.remove(target); }).ok()) {
                result.error->targetIncomplete = false;
                result.error->targetUnchanged = true;
                return result;
            }
            if (auto now = steps_.versionNow(target); !now.error) result.fragment = now.value;
        }
        return result;
    }

    // The rename over the file broke off: a new connection tells whether it happened.
    SaveResult afterLostReplace(const std::string& copy, const std::string& target, FileError error) {
        if (auto there = isThereAfterLoss(copy, error); !there.error) {
            if (!there.value) return saved(target);  // the copy took the file's name
            discard(copy);
            return fail(unchanged(std::move(error)));
        }
        leftovers_.remember(request_.file, copy);
        error.message += " Whether the file on the server is the old or the new one could not be told; save again.";
        return fail(std::move(error));
    }

    // After a lost step: whether `path` is there, asked on a new connection (the step's error
    // when none can be had).
    Outcome<bool> isThereAfterLoss(const std::string& path, const FileError& lost) {
        if (steps_.cancelled() || !steps_.reconnect()) return lost;
        return steps_.exists(path);
    }
    // What became of the file cannot be told now: the old file and the copy wait for the next
    // connection (see removeLeftovers), and the message says so.
    SaveResult leftForLater(const std::string& old, const std::string& copy, FileError error, const std::string& words) {
        leftovers_.remember(request_.file, old);
        leftovers_.remember(request_.file, copy);
        error.message += words;
        return fail(std::move(error));
    }

    // A server whose rename does not replace: the old file aside, the new one in, the old one
    // gone. One that will not move the file aside either gets the write in place.
    SaveResult aside(const std::string& copy, const std::string& target, bool hidden, const TargetFacts& facts,
                     const std::string& refused) {
        const std::string old = path::join(path::parent(target), asideName(path::lastComponent(target), hidden));
        const std::string oldName = path::lastComponent(old);
        StepResult moved = step("asideOld", [&] { return steps_.rename(target, old); });
        if (moved.state == StepResult::State::lost) {
            auto there = isThereAfterLoss(target, *moved.error);
            if (there.error) {
                // The old file may be aside now: put back at the next connection, if its name is free.
                return leftForLater(old, copy, *moved.error,
                                    " The old file may have been moved aside as " + oldName +
                                        "; it is put back under its name once the server answers again.");
            }
            if (there.value) {  // it never moved
                discard(copy);
                return fail(unchanged(*moved.error));
            }
        } else if (moved.state == StepResult::State::refused) {
            return renamedNothing(copy, target, facts, refused + ", and to move it aside (" + moved.said + ")");
        } else if (!moved.ok()) {
            discard(copy);
            return fail(unchanged(*moved.error));
        }

        StepResult put = step("putNew", [&] { return steps_.rename(copy, target); });
        if (put.state == StepResult::State::lost) {
            auto there = isThereAfterLoss(target, *put.error);
            if (there.error) {
                return leftForLater(old, copy, *put.error,
                                    " If the new file did not take its name, the old one, kept as " + oldName +
                                        ", is put back under it once the server answers again.");
            }
            if (!there.value) return putBack(copy, old, target, *put.error);
        } else if (!put.ok()) {
            return putBack(copy, old, target, *put.error);
        }

        StepResult gone = step("removeOld", [&] { return steps_.remove(old); });
        // The file has its name: the old one only goes (once more with the next operation).
        if (gone.state == StepResult::State::refused) logKept("old file", old, gone);
        if (!gone.ok()) leftovers_.remember(request_.file, old);
        return saved(target);
    }

    // The new file could not take the name: the old one goes back under it.
    SaveResult putBack(const std::string& copy, const std::string& old, const std::string& target, FileError error) {
        StepResult back = step("putBack", [&] { return steps_.rename(old, target); });
        if (back.state == StepResult::State::lost) {
            if (auto there = isThereAfterLoss(target, *back.error); !there.error && there.value) back = StepResult::done();
        }
        if (back.ok()) {
            discard(copy);
            return fail(unchanged(std::move(error)));
        }
        leftovers_.remember(request_.file, old);
        discard(copy, back);
        error.message += " The old file is kept on the server as " + path::lastComponent(old) +
                         (back.state == StepResult::State::lost ? "; it is put back under its name once the server answers again."
                                                                : "; the file's own name is free.");
        return fail(std::move(error));
    }

    SaveSteps& steps_;
    LeftoverCopies& leftovers_;
    const SaveRequest& request_;
};

}  // namespace

std::string temporaryName(const std::string& name, bool hidden) { return markedName(name, hidden, kMark); }

std::string asideName(const std::string& name, bool hidden) {
    // The mark tells whether a "." was put before the name, so that the name can be read back.
    const bool dotAdded = hidden && !name.empty() && name.front() != '.';
    return markedName(name, hidden, dotAdded ? kOldMark : kOldMarkAsIs);
}

bool isAsideCopy(std::string_view copyName) {
    return copyName.find(kOldMark.substr(1)) != std::string_view::npos ||
           copyName.find(kOldMarkAsIs.substr(1)) != std::string_view::npos;
}

std::optional<std::string> asideOriginal(std::string_view copyName) {
    for (std::string_view mark : {kOldMark, kOldMarkAsIs}) {
        const std::size_t at = copyName.rfind(mark);
        if (at == std::string_view::npos) continue;
        std::string_view stem = copyName.substr(0, at);
        if (mark == kOldMark) {
            if (stem.empty() || stem.front() != '.') return std::nullopt;
            stem.remove_prefix(1);
        }
        // After the mark: the tag, then the file's extension.
        const std::string_view tail = copyName.substr(at + mark.size());
        if (stem.empty() || tail.size() < 8) return std::nullopt;
        return std::string(stem) + std::string(tail.substr(8));
    }
    return std::nullopt;
}

std::optional<FileError> checkUnchanged(SaveSteps& steps, const std::string& target, const FileVersion& expected) {
    return checkUnchanged(
        expected,
        [&](FileVersion& now) -> std::optional<FileError> {
            auto told = steps.versionNow(target);
            if (told.error) return told.error;
            now = std::move(told.value);
            return std::nullopt;
        },
        [&](std::size_t limit, FileVersion& now, std::optional<Bytes>& bytes) -> std::optional<FileError> {
            auto read = steps.bytesUpTo(target, limit, now);
            if (read.error) return read.error;
            bytes = std::move(read.value);
            return std::nullopt;
        });
}

SaveResult saveFile(SaveSteps& steps, LeftoverCopies& leftovers, const SaveRequest& request) {
    return Saver(steps, leftovers, request).save(request.target, 0);
}

void removeLeftovers(SaveSteps& steps, LeftoverCopies& leftovers) {
    auto copies = leftovers.copies();
    // Old files first: one whose name is free goes back under it before any copy is touched.
    std::stable_partition(copies.begin(), copies.end(),
                          [](const std::string& copy) { return isAsideCopy(path::lastComponent(copy)); });
    for (const std::string& copy : copies) {
        if (isAsideCopy(path::lastComponent(copy))) {
            const auto original = asideOriginal(path::lastComponent(copy));
            if (!original) {  // an old file whose name cannot be read back stays where it is
                leftovers.forget(copy);
                continue;
            }
            const std::string target = path::join(path::parent(copy), *original);
            auto there = steps.exists(target);
            if (there.error) return;  // out of reach again: they wait for the next time
            StepResult r = there.value ? steps.remove(copy) : steps.rename(copy, target);
            if (r.state == StepResult::State::lost) return;
            leftovers.forget(copy);
            continue;
        }
        if (steps.remove(copy).state == StepResult::State::lost) return;
        leftovers.forget(copy);
    }
}

void setSaveCutHook(std::function<bool(std::string_view step, SaveMoment moment)> hook) {
    std::lock_guard lock(hookMutex);
    cutHook = std::move(hook);
}

}  // namespace files::detail
