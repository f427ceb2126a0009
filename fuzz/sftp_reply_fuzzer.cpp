// SFTP answers as a server sends them, after the length, type and id: NAME bodies (a folder's
// entries), attributes, handles and statuses, and the big-endian readers under them. Whatever
// the server sends, a reader never reads past what it was given, consumes exactly what its
// fields say, and reads back what the matching writer wrote.
#include <libssh/sftp.h>

#include <string>

#include "FuzzCheck.h"
#include "platform/files/SftpWire.h"

namespace {

using namespace files::sftpwire;

// The bytes attributes with these flags take, when `in` holds them all; nothing when cut short.
// Counted here from the SFTP version 3 layout, apart from the reader under test.
std::optional<std::size_t> attributesLength(std::string_view in) {
    std::string_view rest = in;
    std::uint32_t flags = 0;
    if (!takeU32(rest, flags)) return std::nullopt;
    std::size_t fixed = 0;
    if (flags & SSH_FILEXFER_ATTR_SIZE) fixed += 8;
    if (flags & SSH_FILEXFER_ATTR_UIDGID) fixed += 8;
    if (flags & SSH_FILEXFER_ATTR_PERMISSIONS) fixed += 4;
    if (flags & SSH_FILEXFER_ATTR_ACMODTIME) fixed += 8;
    if (rest.size() < fixed) return std::nullopt;
    rest.remove_prefix(fixed);
    if (flags & SSH_FILEXFER_ATTR_EXTENDED) {
        std::uint32_t count = 0;
        if (!takeU32(rest, count)) return std::nullopt;
        for (std::uint64_t i = 0; i < std::uint64_t(count) * 2; ++i) {  // a type and its data each
            if (rest.size() < 4) return std::nullopt;
            const std::uint32_t n = (std::uint32_t(std::uint8_t(rest[0])) << 24) | (std::uint32_t(std::uint8_t(rest[1])) << 16) |
                                    (std::uint32_t(std::uint8_t(rest[2])) << 8) | std::uint8_t(rest[3]);
            if (rest.size() - 4 < n) return std::nullopt;
            rest.remove_prefix(4 + n);
        }
    }
    return in.size() - rest.size();
}

// The attributes read, written again with the writers: the bytes they came from, up to the
// extended pairs (which are passed over).
void checkAttributes(sftp_attributes a, std::string_view from) {
    FUZZ_CHECK(a->name == nullptr && a->longname == nullptr);
    std::string again;
    putU32(again, a->flags);
    if (a->flags & SSH_FILEXFER_ATTR_SIZE) putU64(again, a->size);
    if (a->flags & SSH_FILEXFER_ATTR_UIDGID) putU32(again, a->uid), putU32(again, a->gid);
    if (a->flags & SSH_FILEXFER_ATTR_PERMISSIONS) putU32(again, a->permissions);
    if (a->flags & SSH_FILEXFER_ATTR_ACMODTIME) {
        putU32(again, a->atime), putU32(again, a->mtime);
        FUZZ_CHECK(a->atime64 == a->atime && a->mtime64 == a->mtime);
    }
    FUZZ_CHECK(from.substr(0, again.size()) == again);
    if (!(a->flags & SSH_FILEXFER_ATTR_PERMISSIONS)) FUZZ_CHECK(a->type == SSH_FILEXFER_TYPE_UNKNOWN);
    if (a->type == SSH_FILEXFER_TYPE_DIRECTORY) FUZZ_CHECK((a->permissions & 0170000) == 0040000);
    if (a->type == SSH_FILEXFER_TYPE_REGULAR) FUZZ_CHECK((a->permissions & 0170000) == 0100000);
}

void checkReaders(std::string_view text) {
    std::string_view in = text;
    std::uint32_t u32 = 0;
    const bool took32 = takeU32(in, u32);
    FUZZ_CHECK(took32 == (text.size() >= 4));
    if (took32) {
        std::string back;
        putU32(back, u32);
        FUZZ_CHECK(back == text.substr(0, 4) && in.data() == text.data() + 4);
    } else {
        FUZZ_CHECK(in.data() == text.data() && in.size() == text.size());
    }
    in = text;
    std::uint64_t u64 = 0;
    if (takeU64(in, u64)) {
        std::string back;
        putU64(back, u64);
        FUZZ_CHECK(back == text.substr(0, 8) && in.size() == text.size() - 8);
    } else {
        FUZZ_CHECK(text.size() < 8);
    }
    in = text;
    std::string_view s;
    if (takeString(in, s)) {
        FUZZ_CHECK(s.data() == text.data() + 4 && in.data() == s.data() + s.size());
        FUZZ_CHECK(in.data() + in.size() == text.data() + text.size());
        std::string back;
        putString(back, s);
        FUZZ_CHECK(back == text.substr(0, back.size()));
    } else {
        FUZZ_CHECK(text.size() < 4 || text.size() - 4 < (std::uint32_t(std::uint8_t(text[0])) << 24 |
                                                         std::uint32_t(std::uint8_t(text[1])) << 16 |
                                                         std::uint32_t(std::uint8_t(text[2])) << 8 | std::uint8_t(text[3])));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzzText(data, size);
    checkReaders(text);

    // Attributes alone (an ATTRS body): read whole or not at all, never past the input.
    {
        std::string_view in = text;
        const auto expected = attributesLength(text);
        sftp_attributes a = Wire::parseAttributes(in);
        FUZZ_CHECK((a != nullptr) == expected.has_value());
        if (a) {
            FUZZ_CHECK(in.data() == text.data() + *expected && in.size() == text.size() - *expected);
            checkAttributes(a, text);
            sftp_attributes_free(a);
        }
    }

    // A NAME body: every entry given is one the body holds in full, names as sent.
    {
        std::size_t entries = 0;
        std::string_view rest = text.size() >= 4 ? text.substr(4) : std::string_view();
        bool whole = true;
        const bool ok = Wire::namesIn(text, [&](sftp_attributes a) {
            std::string_view name, longname;
            FUZZ_CHECK(whole && takeString(rest, name) && takeString(rest, longname));
            FUZZ_CHECK(a->name && a->longname);
            FUZZ_CHECK(std::string_view(a->name) == name.substr(0, name.find('\0')));
            FUZZ_CHECK(std::string_view(a->longname) == longname.substr(0, longname.find('\0')));
            const auto length = attributesLength(rest);
            FUZZ_CHECK(length.has_value());
            rest.remove_prefix(*length);
            ++entries;
            sftp_attributes_free(a);
        });
        // Each entry takes at least 12 bytes (two empty strings and the flags).
        FUZZ_CHECK(entries <= text.size() / 12);
        if (ok) {
            std::uint32_t count = 0;
            std::string_view head = text;
            FUZZ_CHECK(takeU32(head, count) && count == entries);
        }
    }

    // A whole answer after its length: type, id, body.
    if (size >= 5) {
        Wire::Answer answer;
        answer.type = data[0];
        std::string_view idBytes = text.substr(1, 4);
        takeU32(idBytes, answer.id);
        answer.body.assign(text.substr(5));

        const Result status = Wire::statusOf(answer);
        const bool zero = answer.type == SSH_FXP_STATUS && answer.body.size() >= 4 &&
                          answer.body.compare(0, 4, std::string(4, '\0')) == 0;
        FUZZ_CHECK(bool(status) == zero);
        if (!status) FUZZ_CHECK(status.kind == Result::Kind::status && status.status != SSH_FX_OK);

        std::string handle = "unchanged";
        const Result opened = Wire::handleIn(answer, handle);
        // Anything but a HANDLE is a refusal, a status "OK" too: never a success without a handle.
        if (answer.type != SSH_FXP_HANDLE) {
            FUZZ_CHECK(!opened && opened.kind == Result::Kind::status && handle == "unchanged");
            if (!status) FUZZ_CHECK(opened.status == status.status);
        } else if (opened) {
            std::string back;
            putString(back, handle);
            FUZZ_CHECK(answer.body.compare(0, back.size(), back) == 0);
        } else {
            FUZZ_CHECK(opened.kind == Result::Kind::connection && handle == "unchanged");
        }

        sftp_attributes attributes = nullptr;
        const Result stat = Wire::attributesIn(answer, attributes);
        FUZZ_CHECK(bool(stat) == (attributes != nullptr));
        if (answer.type == SSH_FXP_ATTRS) FUZZ_CHECK(bool(stat) == attributesLength(answer.body).has_value());
        else FUZZ_CHECK(!stat && stat.kind == Result::Kind::status && (status || stat.status == status.status));
        if (attributes) sftp_attributes_free(attributes);
    }
    return 0;
}
