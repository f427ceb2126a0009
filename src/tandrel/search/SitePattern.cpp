#include "tandrel/search/SitePattern.h"

#include <re2/re2.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace sitesearch {

namespace {

// Letters, marks, digits and connector punctuation ("_") make words.
bool isWordCharacter(UChar32 c) {
    if (c < 0) return false;
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK | U_GC_PC_MASK)) != 0;
}

// The offset just after the character that starts at `offset` (one byte for a broken sequence).
std::size_t nextCharacter(std::string_view utf8, std::size_t offset) {
    if (offset >= utf8.size()) return utf8.size() + 1;
    int32_t i = static_cast<int32_t>(offset);
    UChar32 c;
    U8_NEXT(utf8.data(), i, static_cast<int32_t>(utf8.size()), c);
    (void)c;
    return static_cast<std::size_t>(i);
}

}  // namespace

SitePattern::SitePattern(std::string text, PatternOptions options) : text_(std::move(text)), options_(options) {
    if (text_.empty()) {
        error_ = "Nothing to find.";
        return;
    }
    RE2::Options re2Options;
    re2Options.set_case_sensitive(options_.matchCase);
    re2Options.set_log_errors(false);
    re2Options.set_max_mem(64 << 20);
    const std::string body = options_.regularExpression ? text_ : RE2::QuoteMeta(text_);
    re_ = std::make_unique<RE2>("(?m)" + body, re2Options);
    if (!re_->ok()) {
        // RE2 quotes the pattern it was given: the user's, without the line-anchor flag put before it.
        std::string said = re_->error();
        if (const auto at = said.find("(?m)" + body); at != std::string::npos) said.erase(at, 4);
        error_ = std::move(said);
    }
}

SitePattern::~SitePattern() = default;

bool SitePattern::isWordAt(std::string_view utf8, MatchSpan match) const {
    const auto size = static_cast<int32_t>(utf8.size());
    if (match.offset > 0) {
        int32_t i = static_cast<int32_t>(match.offset);
        UChar32 before;
        U8_PREV(utf8.data(), 0, i, before);
        if (isWordCharacter(before)) return false;
    }
    const auto end = static_cast<int32_t>(match.offset + match.length);
    if (end < size) {
        int32_t i = end;
        UChar32 after;
        U8_NEXT(utf8.data(), i, size, after);
        if (isWordCharacter(after)) return false;
    }
    return true;
}

std::vector<MatchSpan> SitePattern::find(std::string_view utf8) const {
    std::vector<MatchSpan> found;
    if (error_) return found;
    std::size_t position = 0;
    re2::StringPiece whole(utf8.data(), utf8.size());
    re2::StringPiece match;
    while (position <= utf8.size() &&
           re_->Match(whole, position, utf8.size(), RE2::UNANCHORED, &match, 1)) {
        const MatchSpan span{static_cast<std::size_t>(match.data() - utf8.data()), match.size()};
        if (span.length == 0 || (options_.wholeWord && !isWordAt(utf8, span))) {
            position = nextCharacter(utf8, span.offset);
            continue;
        }
        found.push_back(span);
        position = span.offset + span.length;
    }
    return found;
}

std::string SitePattern::replacementFor(std::string_view utf8, MatchSpan match, std::string_view replacement) const {
    if (!options_.regularExpression) return std::string(replacement);
    const int groups = re_->NumberOfCapturingGroups();
    std::vector<re2::StringPiece> parts(static_cast<std::size_t>(groups) + 1);
    re2::StringPiece whole(utf8.data(), utf8.size());
    std::string out;
    if (!re_->Match(whole, match.offset, match.offset + match.length, RE2::ANCHOR_BOTH, parts.data(), groups + 1)) {
        return std::string(replacement);
    }
    re_->Rewrite(&out, re2::StringPiece(replacement.data(), replacement.size()), parts.data(), groups + 1);
    return out;
}

std::optional<std::string> SitePattern::replaceAll(std::string_view utf8, std::string_view replacement,
                                                   std::size_t* count, std::string* why) const {
    if (count) *count = 0;
    if (error_) {
        if (why) *why = *error_;
        return std::nullopt;
    }
    if (options_.regularExpression) {
        std::string problem;
        if (!re_->CheckRewriteString(re2::StringPiece(replacement.data(), replacement.size()), &problem)) {
            if (why) *why = problem;
            return std::nullopt;
        }
    }
    std::string out;
    out.reserve(utf8.size());
    std::size_t copied = 0;
    for (const MatchSpan& span : find(utf8)) {
        out.append(utf8.substr(copied, span.offset - copied));
        out += replacementFor(utf8, span, replacement);
        copied = span.offset + span.length;
        if (count) ++*count;
    }
    out.append(utf8.substr(copied));
    return out;
}

}  // namespace sitesearch
