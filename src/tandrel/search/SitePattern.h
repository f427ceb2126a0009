#pragma once
// What a site search looks for, made once and used on every file: the user's text as a literal
// or as an RE2 regular expression, with or without case, as a whole word or anywhere.
//
// Matching runs over UTF-8 text (the text road's output), line anchors (^ $) at every line.
// Literal text is quoted for RE2, so no character of it has a meaning. Whole word: a match counts
// only when the characters just before and after it are not letters, digits or "_" (Unicode's,
// by ICU), so "café" is a word in French text as "cafe" is in English; RE2's own \b knows only
// ASCII. A match that fails that test is looked for again one character further on.
// Replacing: literal text goes in as typed; for a regular expression \0 to \9 stand for its
// groups (RE2's rewrite), and "\\" for a backslash.
//
// A pattern that does not compile (or an empty one) is not usable: error() says why, in RE2's
// words. Thread-safe once made (RE2 is).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

namespace sitesearch {

struct PatternOptions {
    bool matchCase = false;
    bool wholeWord = false;
    bool regularExpression = false;
};

// A match: its byte offset and length in the text.
struct MatchSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool operator==(const MatchSpan&) const = default;
};

class SitePattern {
public:
    SitePattern(std::string text, PatternOptions options);
    ~SitePattern();
    SitePattern(const SitePattern&) = delete;
    SitePattern& operator=(const SitePattern&) = delete;

    // Why the pattern cannot be used; nothing when it can.
    const std::optional<std::string>& error() const { return error_; }
    const std::string& text() const { return text_; }
    const PatternOptions& options() const { return options_; }

    // Every match in `utf8`, in order, none overlapping; an empty match is never reported.
    std::vector<MatchSpan> find(std::string_view utf8) const;
    // The text with every match replaced; `count` gets how many were. For a regular expression
    // a replacement that names a group the pattern lacks is refused (nothing; `why` says so).
    std::optional<std::string> replaceAll(std::string_view utf8, std::string_view replacement, std::size_t* count,
                                          std::string* why = nullptr) const;
    // The replacement of one match (its groups put in for a regular expression).
    std::string replacementFor(std::string_view utf8, MatchSpan match, std::string_view replacement) const;

private:
    bool isWordAt(std::string_view utf8, MatchSpan match) const;
    std::string text_;
    PatternOptions options_;
    std::unique_ptr<re2::RE2> re_;
    std::optional<std::string> error_;
};

}  // namespace sitesearch
