#pragma once
// Pure parsers for what the servers send back: FTP MLSD and LIST listings, WebDAV PROPFIND
// multi-status answers, and the date forms they use. No I/O; every function can be fed text
// from a test table.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/FileObject.h"

namespace files::parse {

// "YYYYMMDDHHMMSS" with optional ".fff", UTC (MLSD modify/create facts).
std::optional<Date> mlsdTime(std::string_view text);
// HTTP dates: RFC 1123 ("Sun, 06 Nov 1994 08:49:37 GMT"), also RFC 850 and asctime forms.
std::optional<Date> httpDate(std::string_view text);
// RFC 3339 ("1994-11-06T08:49:37Z", fractions and +hh:mm offsets allowed).
std::optional<Date> rfc3339(std::string_view text);

// What a whole FTP listing gave: its entries, and how many lines were neither an entry nor a
// line a listing holds besides its entries (blank, "total N", ".", "..", headings, the folder's
// own MLSD lines). Lines that yield no entry at all mean the listing could not be read.
struct Listing {
    static constexpr std::size_t kMaxUnreadSamples = 100;

    std::vector<FileObject> entries;
    std::size_t unreadLines = 0;
    // The lines that could not be read, each once, as they came (the first kMaxUnreadSamples
    // different ones), for the log.
    std::vector<std::string> unreadSamples;
    // No entry, and lines of a form that is not read at all (mainframe data set listings).
    bool unsupportedForm = false;
};

// One MLSD line ("type=file;size=5;modify=20240101120000; name"): the facts run up to the first
// space (or tab), the name is the rest of the line as it is. Nothing for "cdir"/"pdir", "." and
// "..", or a line that is not MLSD. `folder` is the listed folder's path; entries get
// folder + "/" + name.
std::optional<FileObject> mlsdLine(std::string_view line, std::string_view folder);
std::vector<FileObject> mlsd(std::string_view listing, std::string_view folder);
Listing readMlsd(std::string_view listing, std::string_view folder);

// One LIST line, in any of the forms servers send:
//   - Unix "ls -l" style: a mode of letters or digits, links, owner, group (or not), size (with
//     a unit such as "33.5k", run into a long group name, or a device's "major, minor", which
//     gives no size), a date in any order and language (text::lineDate), or no date at all;
//   - VShell, with or without the mode ("Apr 04, 2000" dates, folders end in "/");
//   - MS-DOS/IIS, the date first or the name first ("<DIR>" or the size after the name), either
//     date order, 12- or 24-hour time, sizes with thousands separators;
//   - NetWare, EPLF, OS/2, VMS (names without their version, "X.DIR;1" the folder X, sizes in
//     blocks) and AS/400.
// Names keep inner blanks (and leading ones where the form shows them); a link's " -> target"
// is cut off; "total N", headings, "." and ".." give nothing. Dates without a year take the
// year of `now`, or the year before when that would put them more than a day after `now`.
// A line never goes missing for its date: a date that cannot be read, names no day, or reads
// two ways leaves the entry without one (and a line read two ways without its size); only a
// line whose name cannot be told gives no entry.
// A listing also joins a VMS entry that wraps onto a second line; a single line cannot.
std::optional<FileObject> listLine(std::string_view line, std::string_view folder, Date now);
std::vector<FileObject> list(std::string_view listing, std::string_view folder, Date now);
Listing readList(std::string_view listing, std::string_view folder, Date now);

// A file's permission bits as FTP servers tell them: the "unix.mode" fact of an MLST/MLSD fact
// line ("0640", "640", also "0o640"), or the mode field that starts a Unix LIST line
// ("-rw-r-----", with s/S/t/T for the set-id and sticky bits, or digits: "640", "100640"), or
// the "up" fact of an EPLF line. Nothing when the text has none.
std::optional<unsigned> mlsdMode(std::string_view line);
std::optional<unsigned> listMode(std::string_view line);

// A PROPFIND (Depth 1) multi-status answer for the provider path `folder`, the provider's root
// being `basePath` on the server. Elements are matched by local name and namespace (any prefix),
// properties are read only from propstats with a 2xx status, hrefs may be paths or full URLs
// and are percent-decoded ("#" and "?" in them are part of the name: an href has no query or
// fragment), and the folder's own entry is dropped. A folder's length is no file size: folders
// get size -1. Nothing when the text is not a DAV: multistatus document.
std::optional<std::vector<FileObject>> propfind(std::string_view xml, std::string_view basePath,
                                                std::string_view folder);
// The same, parsing in the given buffer without a copy (its contents are used up).
std::optional<std::vector<FileObject>> propfindInPlace(std::string& xml, std::string_view basePath,
                                                       std::string_view folder);

// The resource type of the first response of a multi-status answer (a Depth 0 PROPFIND):
// directory for a collection, regular for any other resource type, unknown when no 2xx
// propstat gives one. Nothing when the text is not a DAV: multistatus document with a response.
std::optional<FileType> propfindOwnType(std::string_view xml);

// The first failed response of a 207 multi-status answer to DELETE, COPY or MOVE.
struct MultistatusFailure {
    std::string href;  // decoded path
    int status = 0;
    std::string text;  // the status line's reason phrase
};
std::optional<MultistatusFailure> firstMultistatusFailure(std::string_view xml);

// "HTTP/1.1 404 Not Found" -> 404 (0 when unreadable) and "Not Found".
int statusCode(std::string_view statusLine);
std::string statusText(std::string_view statusLine);

}  // namespace files::parse
