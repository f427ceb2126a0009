#pragma once
// The readers of LIST lines, one per family of listing forms that FTP servers send. Each takes
// a line (without its line end) and its first tokens, gives the entry it reads, and says why it
// gives none (see LineKind): a reader that does not know the line says "unreadable", so the
// next one may try. Internal to the listing parsers; ListingParsers.h is the interface.

#include <optional>
#include <string_view>

#include "platform/files/FileObject.h"
#include "platform/files/ListingText.h"

namespace files::parse::families {

using text::LineKind;
using text::ListContext;
using text::Tokens;

// "ls -l" and its kin: a mode field of letters ("-rw-r--r--") or digits ("644", "100644"),
// links, owner, group, size and date in any of the forms text::lineDate reads, then the name.
// Also: dates as seconds since 1970, three date fields that cannot be read (the entry has no
// date), a long group name that runs into the size, no date column at all (and no links), device files (their
// "major, minor" is no size), sizes with a unit ("33.5k"), and VShell's "Apr 04, 2000" dates
// and folders marked by a trailing "/".
std::optional<FileObject> unixLine(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind);
// The permission bits of a Unix line whose mode field is digits ("644 1 user group ...").
std::optional<unsigned> numericMode(std::string_view line);

// VShell without a permission field: "  12345 Apr 04, 2000 21:06 name", "0 Apr 04, 2000 dir/".
std::optional<FileObject> vshellLine(const Tokens& t, std::string_view line, const ListContext& context,
                                     LineKind& kind);

// NetWare: "d [R----F--] supervisor   512   Jan 16 18:53    login".
std::optional<FileObject> netwareLine(const Tokens& t, std::string_view line, const ListContext& context,
                                      LineKind& kind);

// EPLF: "+i8388621.48594,m825718503,r,s280,\tdjb.html", "+i8388621.50690,m824255907,/,\t514".
std::optional<FileObject> eplfLine(std::string_view line, const ListContext& context, LineKind& kind);
// The "up" fact of an EPLF line ("+up644,...").
std::optional<unsigned> eplfMode(std::string_view line);

// MS-DOS and IIS, the date first: "01-02-20  10:30AM  <DIR>  name", "2002-09-02  19:06  9,730 name".
std::optional<FileObject> dosLine(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind);
// MS-DOS "dir" style, the name first: "Program Files  <DIR>  04-27-00  12:09p",
// "readme.txt  1,234  04-27-00  12:09p".
std::optional<FileObject> dosNameFirstLine(std::string_view line, const ListContext& context, LineKind& kind);

// OS/2: "     0           DIR   05-12-97   16:44  PSFONTS", " 36611      A   05-12-97   16:46  README.TXT".
std::optional<FileObject> os2Line(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind);

// VMS: "README.TXT;12   12/18   5-APR-2001 16:21:01  [GROUP,OWNER]  (RWED,RWED,RE,)". The name
// is shown without its version; "NAME.DIR;1" is the folder NAME. Sizes are blocks of 512 bytes
// (used/allocated, or used alone) or carry a unit ("14KB").
std::optional<FileObject> vmsLine(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind);
// A VMS name alone on its line: too long for its column, its entry goes on in the next line.
bool vmsLoneName(std::string_view line);
// The rest of such an entry, whether or not the server indents it: "   10  2-JUL-2003 10:30:08.59 ...".
bool vmsContinuation(std::string_view line);
// "Directory DISK$USER:[WEB]" and "Total of 4 files, 31/45 blocks." (read as no entry).
bool vmsHeading(std::string_view line);

// AS/400 (OS/400, IBM i): "QSYS  77824 02/23/00 15:09:55 *DIR  QSYS/", "OWNER  *MEM  A.FILE/B.MBR".
std::optional<FileObject> as400Line(const Tokens& t, std::string_view line, const ListContext& context,
                                    LineKind& kind);

// A line of a mainframe data set listing (MVS data sets and members, JES spool, z/VM CMS
// files, HP NonStop): forms not read at all.
bool mainframeLine(const Tokens& t, std::string_view line);

}  // namespace files::parse::families
