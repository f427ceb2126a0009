#include "tellium/util/TLMUtility.h"

#include <openssl/rand.h>
#include <pthread.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <array>
#include <bitset>

#include "platform/defaults/Utf8.h"
#include "tellium/TLMLogger.h"

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        auto at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

std::string removeAll(std::string s, std::string_view what) {
    for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at)) s.erase(at, what.size());
    return s;
}

bool contains(std::string_view s, std::string_view what) { return s.find(what) != std::string_view::npos; }

}  // namespace

std::optional<std::string> TLMUtility::appSecretFrom(const std::optional<std::string>& string) {
    if (!string) return std::nullopt;
    const bool iosOnly = contains(*string, "ios=");
    for (const auto& part : split(*string, ';')) {
        if (part.empty() || contains(part, "target=")) continue;
        std::string result;
        if (iosOnly) {
            if (!contains(part, "ios=")) continue;
            result = removeAll(part, "ios=");
        } else if (!contains(part, "appsecret=") && !contains(part, "=")) {
            result = part;
        } else {
            result = removeAll(part, "appsecret=");
        }
        if (!result.empty()) return result;
    }
    return std::nullopt;
}

std::optional<std::string> TLMUtility::transmissionTargetTokenFrom(const std::optional<std::string>& string) {
    if (!string) return std::nullopt;
    for (const auto& part : split(*string, ';')) {
        if (!contains(part, "target=")) continue;
        auto token = removeAll(part, "target=");
        if (!token.empty()) return token;
    }
    return std::nullopt;
}

std::optional<std::string> TLMUtility::targetKeyFromTargetToken(const std::optional<std::string>& token) {
    if (!token) return std::nullopt;
    auto key = token->substr(0, token->find('-'));
    if (key.empty()) return std::nullopt;
    return key;
}

std::optional<std::string> TLMUtility::iKeyFromTargetToken(const std::optional<std::string>& token) {
    auto key = targetKeyFromTargetToken(token);
    if (!key) return std::nullopt;
    return "o:" + *key;
}

int TLMUtility::currentAppEnvironment() {
    const char* env = std::getenv("DRAVIX_APP_ENVIRONMENT");
    if (env && std::string_view(env) == "99") return 99;
    return 0;
}

std::string TLMUtility::sdkName() { return "tellium.cpp"; }
std::string TLMUtility::sdkVersion() { return "4.4.2"; }

// ---- archives ------------------------------------------------------------------------------

void TLMUtility::addMigrationClasses(const std::map<std::string, std::string>& oldToNew) {
    TLMArchiveRegistry::addMigrationClasses(oldToNew);
}

std::string TLMUtility::archiveKeyedData(const TLMCoding& object) {
    std::string bytes;
    TLMKeyedArchiver::archiveRoot(object, bytes);
    return bytes;
}

std::string TLMUtility::archiveKeyedArray(const std::vector<std::shared_ptr<TLMCoding>>& objects) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& o : objects) {
        if (o) list.push_back(TLMKeyedArchiver::encodeRoot(*o));
    }
    auto bytes = nlohmann::json::to_cbor(list);
    return std::string(bytes.begin(), bytes.end());
}

namespace {
nlohmann::json parseCbor(std::string_view bytes) {
    if (bytes.empty()) return nlohmann::json(nlohmann::json::value_t::discarded);
    try {
        return nlohmann::json::from_cbor(bytes.begin(), bytes.end(), true, false);
    } catch (...) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}
}  // namespace

std::shared_ptr<TLMCoding> TLMUtility::unarchiveKeyedData(std::string_view bytes) {
    try {
        auto root = parseCbor(bytes);
        if (root.is_discarded()) return nullptr;
        return TLMKeyedUnarchiver::decodeRoot(root);
    } catch (...) {
        return nullptr;
    }
}

std::optional<std::vector<std::shared_ptr<TLMCoding>>> TLMUtility::unarchiveKeyedArray(std::string_view bytes) {
    try {
        auto root = parseCbor(bytes);
        if (!root.is_array()) return std::nullopt;
        std::vector<std::shared_ptr<TLMCoding>> out;
        out.reserve(root.size());
        for (const auto& e : root) {
            auto object = TLMKeyedUnarchiver::decodeRoot(e);
            if (!object) return std::nullopt;
            out.push_back(std::move(object));
        }
        return out;
    } catch (...) {
        return std::nullopt;
    }
}

// ---- text ----------------------------------------------------------------------------------

std::optional<std::string> TLMUtility::prettyPrintJson(const std::optional<std::string>& bytes) {
    if (!bytes) return std::nullopt;
    // nlohmann never writes "\/", so the text needs no slash clean-up afterwards.
    auto parsed = TLMJson::parse(*bytes, nullptr, false);
    if (!parsed.is_discarded()) {
        try {
            return parsed.dump(2, ' ', false, TLMJson::error_handler_t::replace);
        } catch (...) {
        }
    }
    return *bytes;
}

namespace {

// The masking patterns' matcher: a regular expression compiled to a small program and run over
// the text as a set of threads that all advance one byte at a time (a Pike machine), so a match
// costs time in proportion to the text and no stack, whatever its length: a backtracking matcher
// recurses per character and overflows the stack on a long token or ticket.
// It knows what masking needs: literals, ".", classes ("[^\"]", ranges, \s \d \w and their
// negations), groups "(...)" (capturing) and "(?:...)", alternation "|", the greedy quantifiers
// "*", "+", "?" and their lazy forms; letters match without regard to case (ASCII).
class TLMPatternMatcher {
public:
    static constexpr std::size_t kMaxGroups = 9;  // "$1" to "$9"
    // Start and end of the match (0, 1) and of each group n (2n, 2n + 1); npos where none.
    using Captures = std::array<std::size_t, 2 * (kMaxGroups + 1)>;

    // Nothing when the pattern uses anything else or is malformed; `why` then says what.
    static std::optional<TLMPatternMatcher> compile(const std::string& pattern, std::string& why) {
        TLMPatternMatcher m;
        m.pattern_ = pattern;
        m.emit({Op::save, 0});
        if (!m.alternation(why)) return std::nullopt;
        if (m.at_ != pattern.size()) {
            why = "unmatched ')' at offset " + std::to_string(m.at_);
            return std::nullopt;
        }
        m.emit({Op::save, 1});
        m.emit({Op::match});
        return m;
    }

    // The next match at or after `from`: the capture offsets (start and end of group n at 2n and
    // 2n + 1; npos for a group that took no part), or nothing.
    std::optional<Captures> search(std::string_view text, std::size_t from) const {
        Captures none;
        none.fill(std::string::npos);
        std::vector<Thread> current, next;
        std::vector<std::size_t> seenAt(program_.size(), std::string::npos);
        std::optional<Captures> found;
        std::size_t stamp = 0;  // the current list's stamp: each instruction joins a list once
        for (std::size_t i = from;; ++i) {
            if (!found) {
                // A thread starting here comes after every thread that started earlier.
                addThread(current, seenAt, stamp, 0, none, i);
            }
            if (current.empty()) break;
            const std::size_t nextStamp = ++stamp;
            next.clear();
            for (auto& thread : current) {
                const Inst& inst = program_[thread.pc];
                if (inst.op == Op::match) {
                    found = thread.caps;
                    break;  // the threads after this one have lower priority
                }
                if (i < text.size() && inst.set.test(static_cast<unsigned char>(text[i]))) {
                    addThread(next, seenAt, nextStamp, thread.pc + 1, thread.caps, i + 1);
                }
            }
            std::swap(current, next);
            if (i >= text.size()) break;
        }
        return found;
    }

    std::size_t groups() const { return groups_; }

private:
    enum class Op { byte, split, jump, save, match };
    struct Inst {
        Inst(Op o, std::size_t a = 0) : op(o), x(a) {}  // NOLINT: built from braces throughout
        Op op;
        std::size_t x = 0, y = 0;  // split: preferred and other target; jump: target; save: slot
        std::bitset<256> set;      // byte: the bytes it takes
    };
    struct Thread {
        std::size_t pc;
        Captures caps;  // held inline: no allocation per thread and byte
    };

    std::vector<Inst> program_;
    mutable std::vector<Thread> stack_;  // addThread's work list, kept to spare allocations
    std::string pattern_;
    std::size_t at_ = 0;
    std::size_t groups_ = 0;
    std::size_t depth_ = 0;
    static constexpr std::size_t kMaxDepth = 32;  // the compiler's recursion follows the nesting

    std::size_t emit(Inst inst) {
        program_.push_back(std::move(inst));
        return program_.size() - 1;
    }

    // Follows jumps, splits and saves (in priority order) to the byte and match instructions a
    // thread reaches at text offset `pos`; an explicit stack, so no recursion on the text.
    void addThread(std::vector<Thread>& list, std::vector<std::size_t>& seenAt, std::size_t stamp, std::size_t pc,
                   const Captures& caps, std::size_t pos) const {
        stack_.clear();
        stack_.push_back({pc, caps});
        auto& stack = stack_;
        while (!stack.empty()) {
            Thread t = stack.back();
            stack.pop_back();
            if (seenAt[t.pc] == stamp) continue;
            seenAt[t.pc] = stamp;
            const Inst& inst = program_[t.pc];
            switch (inst.op) {
                case Op::jump: stack.push_back({inst.x, t.caps}); break;
                case Op::split:
                    stack.push_back({inst.y, t.caps});
                    stack.push_back({inst.x, t.caps});
                    break;
                case Op::save:
                    t.caps[inst.x] = pos;
                    stack.push_back({t.pc + 1, t.caps});
                    break;
                case Op::byte:
                case Op::match: list.push_back(t); break;
            }
        }
    }

    // Makes room for one instruction at `pos`: the instructions from there on move up by one,
    // and so do their jump and split targets (which all lie at or after `pos`).
    void insertAt(std::size_t pos, Inst inst) {
        for (std::size_t i = pos; i < program_.size(); ++i) {
            Inst& moved = program_[i];
            if (moved.op == Op::split || moved.op == Op::jump) {
                moved.x += 1;
                if (moved.op == Op::split) moved.y += 1;
            }
        }
        program_.insert(program_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(inst));
    }

    // The compiler: recursion here follows the nesting of groups (bounded), never the text.
    // a|b|c: split(a, next); a; jump end; split(b, c); b; jump end; c; end.
    bool alternation(std::string& why) {
        std::size_t branch = program_.size();
        if (!sequence(why)) return false;
        std::vector<std::size_t> jumpsToEnd;
        while (at_ < pattern_.size() && pattern_[at_] == '|') {
            ++at_;
            insertAt(branch, {Op::split});
            jumpsToEnd.push_back(emit({Op::jump}));
            program_[branch].x = branch + 1;
            program_[branch].y = program_.size();
            branch = program_.size();
            if (!sequence(why)) return false;
        }
        for (std::size_t j : jumpsToEnd) program_[j].x = program_.size();
        return true;
    }

    bool sequence(std::string& why) {
        while (at_ < pattern_.size() && pattern_[at_] != '|' && pattern_[at_] != ')') {
            const std::size_t start = program_.size();
            if (!atom(why)) return false;
            if (!quantifier(start, why)) return false;
        }
        return true;
    }

    bool quantifier(std::size_t start, std::string& why) {
        if (at_ >= pattern_.size()) return true;
        const char q = pattern_[at_];
        if (q != '*' && q != '+' && q != '?') {
            if (q == '{') {
                why = "counted repetition is not supported";
                return false;
            }
            return true;
        }
        ++at_;
        bool lazy = false;
        if (at_ < pattern_.size() && pattern_[at_] == '?') {
            lazy = true;
            ++at_;
        }
        if (at_ < pattern_.size() && (pattern_[at_] == '*' || pattern_[at_] == '+' || pattern_[at_] == '?')) {
            why = "nothing to repeat at offset " + std::to_string(at_);
            return false;
        }
        auto split = [&](std::size_t enter, std::size_t leave) {
            Inst s{Op::split};
            s.x = lazy ? leave : enter;
            s.y = lazy ? enter : leave;
            return s;
        };
        if (q == '+') {
            // body; split(body, next)
            const std::size_t at = program_.size();
            emit(split(start, at + 1));
            return true;
        }
        // '*' and '?': a split in front of the body ('*' loops back to it).
        insertAt(start, {Op::split});
        if (q == '*') {
            Inst back{Op::jump};
            back.x = start;
            emit(back);
        }
        program_[start] = split(start + 1, program_.size());
        return true;
    }

    static void foldCase(std::bitset<256>& set) {
        for (int c = 'a'; c <= 'z'; ++c) {
            if (set.test(static_cast<std::size_t>(c)) || set.test(static_cast<std::size_t>(c - 'a' + 'A'))) {
                set.set(static_cast<std::size_t>(c));
                set.set(static_cast<std::size_t>(c - 'a' + 'A'));
            }
        }
    }

    static bool classEscape(char e, std::bitset<256>& set) {
        std::bitset<256> s;
        switch (e) {
            case 's':
            case 'S':
                for (char c : std::string(" \t\n\r\f\v")) s.set(static_cast<unsigned char>(c));
                break;
            case 'd':
            case 'D':
                for (int c = '0'; c <= '9'; ++c) s.set(static_cast<std::size_t>(c));
                break;
            case 'w':
            case 'W':
                for (int c = 0; c < 256; ++c) {
                    if (std::isalnum(c) && c < 128) s.set(static_cast<std::size_t>(c));
                }
                s.set('_');
                break;
            default: return false;
        }
        if (std::isupper(static_cast<unsigned char>(e))) s.flip();
        set |= s;
        return true;
    }

    static std::optional<char> literalEscape(char e) {
        switch (e) {
            case 'n': return '\n';
            case 'r': return '\r';
            case 't': return '\t';
            case 'f': return '\f';
            case 'v': return '\v';
            case '0': return '\0';
            default: break;
        }
        if (std::isalnum(static_cast<unsigned char>(e))) return std::nullopt;  // \b, \1, ...: unsupported
        return e;
    }

    bool atom(std::string& why) {
        const char c = pattern_[at_];
        Inst inst{Op::byte};
        switch (c) {
            case '(': {
                ++at_;
                bool capturing = true;
                if (pattern_.compare(at_, 2, "?:") == 0) {
                    capturing = false;
                    at_ += 2;
                } else if (at_ < pattern_.size() && pattern_[at_] == '?') {
                    why = "unsupported group at offset " + std::to_string(at_);
                    return false;
                }
                if (++depth_ > kMaxDepth) {
                    why = "groups nested too deeply";
                    return false;
                }
                if (capturing && groups_ == kMaxGroups) {
                    why = "more than " + std::to_string(kMaxGroups) + " groups";
                    return false;
                }
                const std::size_t group = capturing ? ++groups_ : 0;
                if (capturing) emit({Op::save, 2 * group});
                if (!alternation(why)) return false;
                if (at_ >= pattern_.size() || pattern_[at_] != ')') {
                    why = "missing ')'";
                    return false;
                }
                ++at_;
                --depth_;
                if (capturing) emit({Op::save, 2 * group + 1});
                return true;
            }
            case '[': return bracket(why);
            case '.':
                inst.set.set();
                inst.set.reset('\n');
                inst.set.reset('\r');
                ++at_;
                break;
            case '\\': {
                if (at_ + 1 >= pattern_.size()) {
                    why = "trailing backslash";
                    return false;
                }
                const char e = pattern_[at_ + 1];
                at_ += 2;
                if (!classEscape(e, inst.set)) {
                    auto lit = literalEscape(e);
                    if (!lit) {
                        why = std::string("unsupported escape \\") + e;
                        return false;
                    }
                    inst.set.set(static_cast<unsigned char>(*lit));
                }
                break;
            }
            case '*':
            case '+':
            case '?':
            case '{':
            case '^':
            case '$':
                why = std::string("unsupported '") + c + "' at offset " + std::to_string(at_);
                return false;
            default:
                inst.set.set(static_cast<unsigned char>(c));
                ++at_;
                break;
        }
        foldCase(inst.set);
        emit(std::move(inst));
        return true;
    }

    bool bracket(std::string& why) {
        ++at_;  // '['
        bool negate = false;
        if (at_ < pattern_.size() && pattern_[at_] == '^') {
            negate = true;
            ++at_;
        }
        std::bitset<256> set;
        bool first = true;
        for (;;) {
            if (at_ >= pattern_.size()) {
                why = "missing ']'";
                return false;
            }
            char c = pattern_[at_];
            if (c == ']' && !first) {
                ++at_;
                break;
            }
            first = false;
            unsigned char low;
            if (c == '\\') {
                if (at_ + 1 >= pattern_.size()) {
                    why = "trailing backslash";
                    return false;
                }
                const char e = pattern_[at_ + 1];
                at_ += 2;
                if (classEscape(e, set)) continue;
                auto lit = literalEscape(e);
                if (!lit) {
                    why = std::string("unsupported escape \\") + e;
                    return false;
                }
                low = static_cast<unsigned char>(*lit);
            } else {
                low = static_cast<unsigned char>(c);
                ++at_;
            }
            if (at_ + 1 < pattern_.size() && pattern_[at_] == '-' && pattern_[at_ + 1] != ']') {
                unsigned char high = static_cast<unsigned char>(pattern_[at_ + 1]);
                at_ += 2;
                if (high == '\\') {
                    why = "escape at the end of a range";
                    return false;
                }
                if (high < low) {
                    why = "range out of order";
                    return false;
                }
                for (unsigned v = low; v <= high; ++v) set.set(v);
            } else {
                set.set(low);
            }
        }
        foldCase(set);
        if (negate) set.flip();
        Inst inst{Op::byte};
        inst.set = set;
        emit(std::move(inst));
        return true;
    }
};

// The replacement for one match: "$&" the match, "$n" / "$nn" a group, "$$" a dollar sign,
// anything else as it stands.
void appendReplacement(std::string& out, std::string_view text, const TLMPatternMatcher::Captures& caps,
                       std::size_t groups, const std::string& replacement) {
    auto group = [&](std::size_t n) {
        if (caps[2 * n] != std::string::npos && caps[2 * n + 1] != std::string::npos) {
            out.append(text.substr(caps[2 * n], caps[2 * n + 1] - caps[2 * n]));
        }
    };
    for (std::size_t i = 0; i < replacement.size(); ++i) {
        const char c = replacement[i];
        if (c != '$' || i + 1 >= replacement.size()) {
            out += c;
            continue;
        }
        const char n = replacement[i + 1];
        if (n == '$') {
            out += '$';
            ++i;
        } else if (n == '&') {
            group(0);
            ++i;
        } else if (std::isdigit(static_cast<unsigned char>(n)) && n != '0') {
            std::size_t number = static_cast<std::size_t>(n - '0');
            std::size_t used = 1;
            if (i + 2 < replacement.size() && std::isdigit(static_cast<unsigned char>(replacement[i + 2]))) {
                const std::size_t two = number * 10 + static_cast<std::size_t>(replacement[i + 2] - '0');
                if (two <= groups) {
                    number = two;
                    used = 2;
                }
            }
            if (number <= groups) {
                group(number);
                i += used;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
}

}  // namespace

std::optional<std::string> TLMUtility::obfuscateString(const std::optional<std::string>& text,
                                                       const std::string& pattern, const std::string& replacement) {
    if (!text) return std::nullopt;
    std::string why;
    const auto matcher = TLMPatternMatcher::compile(pattern, why);
    if (!matcher) {
        TLMLogError(kTLMLogTag, "Couldn't create regular expression with pattern\"" + pattern + "\": " + why);
        return std::nullopt;
    }
    const std::string_view in = *text;
    std::string out;
    out.reserve(in.size());
    std::size_t copied = 0;
    std::size_t from = 0;
    while (from <= in.size()) {
        const auto caps = matcher->search(in, from);
        if (!caps) break;
        const std::size_t start = (*caps)[0], end = (*caps)[1];
        out.append(in.substr(copied, start - copied));
        appendReplacement(out, in, *caps, matcher->groups(), replacement);
        copied = end;
        // An empty match moves on by one byte, so the scan always ends.
        from = end > start ? end : end + 1;
    }
    if (copied < in.size()) out.append(in.substr(copied));
    return out;
}

double TLMUtility::nowInMilliseconds() {
    auto now = TLMClock::current()->now();
    return static_cast<double>(TLMDateToNanoseconds(now)) / 1e6;
}

std::string TLMUtility::dateToISO8601(TLMDate date) {
    using namespace std::chrono;
    // Every log's timestamp goes through here as a batch is written: digits by hand for the years
    // of four digits, the C library for the rest.
    const auto whole = floor<milliseconds>(date);
    const auto day = floor<days>(whole);
    const year_month_day ymd{day};
    if (const int year = static_cast<int>(ymd.year()); year >= 0 && year <= 9999) {
        long long rest = (whole - day).count();  // milliseconds since midnight
        const int millis = static_cast<int>(rest % 1000);
        rest /= 1000;
        const int seconds = static_cast<int>(rest % 60);
        rest /= 60;
        const int minutes = static_cast<int>(rest % 60);
        const int hours = static_cast<int>(rest / 60);
        std::string out = "0000-00-00T00:00:00.000Z";
        auto put = [&out](std::size_t at, int value, int digits) {
            for (int i = digits - 1; i >= 0; --i, value /= 10) out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        };
        put(0, year, 4);
        put(5, static_cast<int>(static_cast<unsigned>(ymd.month())), 2);
        put(8, static_cast<int>(static_cast<unsigned>(ymd.day())), 2);
        put(11, hours, 2);
        put(14, minutes, 2);
        put(17, seconds, 2);
        put(20, millis, 3);
        return out;
    }
    auto ms = floor<milliseconds>(date.time_since_epoch()).count();
    auto secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    int millis = static_cast<int>(ms - secs * 1000);
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return buf;
}

std::optional<TLMDate> TLMUtility::dateFromISO8601(std::string_view text) {
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    auto num = [&](std::size_t at, std::size_t n) -> int {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2),
        ms = num(20, 3);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60 ||
        ms < 0)
        return std::nullopt;
    using namespace std::chrono;
    year_month_day ymd{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!ymd.ok()) return std::nullopt;
    auto tp = sys_days(ymd) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
    // A date counts nanoseconds from 1970 (about 1678 to 2261): text outside is no date.
    using Nanos = time_point<system_clock, nanoseconds>;
    if (tp < time_point_cast<milliseconds>(Nanos::min()) + seconds(1) ||
        tp > time_point_cast<milliseconds>(Nanos::max()) - seconds(1))
        return std::nullopt;
    return time_point_cast<nanoseconds>(tp);
}

std::size_t TLMUtility::utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto n = defaults::utf8SequenceLength(text, i);
        if (n == 0) n = 1;
        units += (n == 4) ? 2 : 1;
        i += n;
    }
    return units;
}

std::string TLMUtility::truncateToUtf16Length(std::string_view text, std::size_t limit) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        auto n = defaults::utf8SequenceLength(text, i);
        if (n == 0) n = 1;
        std::size_t u = (n == 4) ? 2 : 1;
        if (units + u > limit) break;
        units += u;
        i += n;
    }
    return std::string(text.substr(0, i));
}

namespace {
// Random bytes for identifiers, drawn from OpenSSL a block at a time per thread: one call for
// every 64 identifiers instead of one each (a log gets one as it is enqueued). A forked child
// starts with an empty block, so it never repeats what its parent hands out next.
struct RandomBlock {
    unsigned char bytes[1024];
    std::size_t used = sizeof bytes;
};
thread_local RandomBlock t_randomBlock;

void randomBytes16(unsigned char* out) {
    static std::once_flag forkHook;
    std::call_once(forkHook, [] { pthread_atfork(nullptr, nullptr, [] { t_randomBlock.used = sizeof t_randomBlock.bytes; }); });
    RandomBlock& block = t_randomBlock;
    if (block.used + 16 > sizeof block.bytes) {
        if (RAND_bytes(block.bytes, sizeof block.bytes) != 1) {
            thread_local std::mt19937_64 gen{std::random_device{}()};
            for (auto& x : block.bytes) x = static_cast<unsigned char>(gen());
        }
        block.used = 0;
    }
    std::memcpy(out, block.bytes + block.used, 16);
    block.used += 16;
}
}  // namespace

std::string TLMUtility::uuidString() {
    unsigned char b[16];
    randomBytes16(b);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(36, '-');
    for (std::size_t i = 0, at = 0; i < 16; ++i) {
        if (at == 8 || at == 13 || at == 18 || at == 23) ++at;
        out[at++] = kHex[b[i] >> 4];
        out[at++] = kHex[b[i] & 0x0F];
    }
    return out;
}

bool TLMUtility::isValidUuid(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// ---- properties ----------------------------------------------------------------------------

std::map<std::string, std::string> TLMValidateProperties(const TLMJson& properties, const std::string& logName,
                                                         const std::string& logType) {
    std::map<std::string, std::string> valid;
    if (!properties.is_object()) return valid;
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        if (!it.value().is_string()) continue;
        if (valid.size() >= kTLMMaxPropertiesPerLog) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : properties cannot contain more than " +
                                          std::to_string(kTLMMaxPropertiesPerLog) + " items. Skipping other properties.");
            break;
        }
        std::string key = it.key();
        if (key.empty()) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : a property key cannot be null or empty. Property will be skipped.");
            continue;
        }
        if (TLMUtility::utf16Length(key) > kTLMMaxPropertyKeyLength) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : property " + key + " : property key length cannot be longer than " +
                                          std::to_string(kTLMMaxPropertyKeyLength) + " characters. Property key will be truncated.");
            key = TLMUtility::truncateToUtf16Length(key, kTLMMaxPropertyKeyLength);
        }
        std::string value = it.value().get<std::string>();
        if (TLMUtility::utf16Length(value) > kTLMMaxPropertyValueLength) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : property '" + key + "' : property value cannot be longer than " +
                                          std::to_string(kTLMMaxPropertyValueLength) + " characters. Property value will be truncated.");
            value = TLMUtility::truncateToUtf16Length(value, kTLMMaxPropertyValueLength);
        }
        valid[key] = std::move(value);
    }
    return valid;
}
