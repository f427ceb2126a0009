// Mainframe listings are not read: their entries are data sets and members, not files and
// folders this app can edit. They are recognised so that a folder of them is reported as a
// form that is not supported rather than as a listing that could not be read.

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {

bool contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// "2003/05/21"
bool slashDate(std::string_view s) {
    return s.size() == 10 && s[4] == '/' && s[7] == '/' && allDigits(s.substr(0, 4)) && allDigits(s.substr(5, 2)) &&
           allDigits(s.substr(8, 2));
}

bool recordFormat(std::string_view s) { return s == "F" || s == "V"; }

}  // namespace

bool mainframeLine(const Tokens& t, std::string_view line) {
    // Headings: MVS data sets, members of a partitioned data set, JES jobs, HP NonStop files.
    if (startsWithI(line, "Volume ") && contains(line, "Unit") && contains(line, "Dsname")) return true;
    if (startsWithI(line, "Name ") && contains(line, "VV.MM")) return true;
    if (startsWithI(line, "JOBNAME ") && contains(line, "JOBID")) return true;
    if (startsWithI(line, "File ") && contains(line, " Code ") && contains(line, " EOF ")) return true;
    if (startsWithI(line, "Pseudo Directory") || (startsWithI(line, "Migrated ") && t.size() == 2)) return true;
    // An MVS data set: "WYOSPT 3420   2003/05/21  1  200  FB      80  8053  PS  WEB.DATA".
    if (t.size() >= 9 && slashDate(t[2].text)) {
        for (std::size_t i = 5; i < t.size() && i < 10; ++i) {
            const std::string_view org = t[i].text;
            if (org == "PS" || org == "PO" || org == "PO-E" || org == "DA" || org == "VS" || org == "IS") return true;
        }
    }
    // A member: "INDEX   01.03 2002/09/12 2002/09/12 13:45    52    52     0 WEBUSER".
    if (t.size() >= 5 && t[1].text.size() == 5 && t[1].text[2] == '.' && slashDate(t[2].text) && slashDate(t[3].text))
        return true;
    // A z/VM CMS file: "PROFILE  EXEC     A1 V   17   24   1 2000-06-07 15:30:05", also without the mode.
    if (t.size() >= 8 && recordFormat(t[3].text) && allDigits(t[4].text) && allDigits(t[5].text) && allDigits(t[6].text))
        return true;
    if (t.size() >= 7 && recordFormat(t[2].text) && allDigits(t[3].text) && allDigits(t[4].text) && allDigits(t[5].text))
        return true;
    // An HP NonStop file: "ALV   101   5000  13-Mar-23 13:46:23 255,255 \"oooo\"".
    if (t.size() >= 7 && allDigits(t[1].text) && allDigits(t[2].text) && contains(t[5].text, ",") &&
        t[6].text.front() == '"')
        return true;
    return false;
}

}  // namespace files::parse::families
