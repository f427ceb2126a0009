// Table tests of the listing parsers, date readers, path rules and FTP reply readings.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/files/FtpReplies.h"
#include "platform/files/ListingParsers.h"
#include "platform/files/RemotePath.h"

using files::Date;
using files::FileObject;
using files::FileType;
namespace parse = files::parse;
namespace path = files::path;

namespace {

Date at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    using namespace std::chrono;
    return time_point_cast<system_clock::duration>(sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} +
                                                   milliseconds{ms});
}

const std::string kReplacement = "\xEF\xBF\xBD";

struct Expected {
    std::string name;
    FileType type;
    std::int64_t size;
    std::optional<Date> modified;
};

void expectEntry(const std::optional<FileObject>& got, const std::optional<Expected>& want, const std::string& folder,
                 const std::string& line) {
    if (!want) {
        EXPECT_FALSE(got) << "line: " << line << " gave " << got->name;
        return;
    }
    ASSERT_TRUE(got) << "line: " << line;
    EXPECT_EQ(got->name, want->name) << line;
    // The path carries the name's bytes (valid UTF-8 all the same); shown, they read as the name.
    EXPECT_TRUE(path::isValidUtf8(got->path)) << line;
    EXPECT_EQ(path::decodeLenient(path::toServer(got->path)), (folder == "/" ? "" : folder) + "/" + want->name) << line;
    EXPECT_EQ(got->type, want->type) << line;
    EXPECT_EQ(got->size, want->size) << line;
    EXPECT_EQ(got->modificationDate, want->modified) << line;
    EXPECT_EQ(got->isHidden, want->name.front() == '.') << line;
}

// ---- MLSD ----------------------------------------------------------------------------------

struct MlsdCase {
    std::string line;
    std::optional<Expected> want;
};

class MlsdLineTest : public ::testing::TestWithParam<MlsdCase> {};

TEST_P(MlsdLineTest, ReadsFactsAndTheVerbatimName) {
    const auto& c = GetParam();
    expectEntry(parse::mlsdLine(c.line, "/www"), c.want, "/www", c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MlsdLineTest,
    ::testing::Values(
        MlsdCase{"type=file;size=5;modify=20240102030405;perm=r; two  spaces.txt",
                 Expected{"two  spaces.txt", FileType::regular, 5, at(2024, 1, 2, 3, 4, 5)}},
        MlsdCase{"Type=dir;Modify=20231231235959.123;sizd=4096; sub dir",
                 Expected{"sub dir", FileType::directory, 4096, at(2023, 12, 31, 23, 59, 59, 123)}},
        MlsdCase{"type=cdir;modify=20240102030405; .", std::nullopt},
        MlsdCase{"type=pdir;modify=20240102030405; ..", std::nullopt},
        MlsdCase{"type=file;size=1; .", std::nullopt},
        MlsdCase{"type=OS.unix=slink:/var/www/target;size=7; link", Expected{"link", FileType::symbolicLink, 7, std::nullopt}},
        MlsdCase{"type=OS.unix=symlink; link2", Expected{"link2", FileType::symbolicLink, -1, std::nullopt}},
        MlsdCase{"type=file;size=0;modify=20240102030405; .htaccess",
                 Expected{".htaccess", FileType::regular, 0, at(2024, 1, 2, 3, 4, 5)}},
        MlsdCase{"type=file;size=3;  leading space.txt", Expected{" leading space.txt", FileType::regular, 3, std::nullopt}},
        MlsdCase{"type=file;size=1; a;b=c d.txt", Expected{"a;b=c d.txt", FileType::regular, 1, std::nullopt}},
        MlsdCase{"type=file;size=1; caf\xE9.txt", Expected{"caf" + kReplacement + ".txt", FileType::regular, 1, std::nullopt}},
        MlsdCase{"type=file;size=12345678901; big.iso", Expected{"big.iso", FileType::regular, 12345678901LL, std::nullopt}},
        MlsdCase{"type=file;modify=garbage;size=x; odd.txt", Expected{"odd.txt", FileType::regular, -1, std::nullopt}},
        MlsdCase{"type=OS.vms=device; dev", Expected{"dev", FileType::unknown, -1, std::nullopt}},
        MlsdCase{"type=file;size=5;modify=20240102030405; r\xC3\xA9sum\xC3\xA9.php\r",
                 Expected{"r\xC3\xA9sum\xC3\xA9.php", FileType::regular, 5, at(2024, 1, 2, 3, 4, 5)}},
        MlsdCase{"type=file;size=5;modify=20240102030405;\ttabbed name.txt",
                 Expected{"tabbed name.txt", FileType::regular, 5, at(2024, 1, 2, 3, 4, 5)}},
        MlsdCase{"type=dir;modify=20240102030405;\t sub", Expected{" sub", FileType::directory, -1, at(2024, 1, 2, 3, 4, 5)}},
        MlsdCase{"no facts here", std::nullopt},
        // A name no later command could name: a NUL cuts it short, a slash makes it a path.
        MlsdCase{std::string("type=file;size=1; a\0b.txt", 25), std::nullopt},
        MlsdCase{"type=file;size=1; sub/a.txt", std::nullopt},
        MlsdCase{"", std::nullopt}));

TEST(MlsdListing, ReadsEveryLineAndSkipsTheFolderItself) {
    const std::string listing =
        "type=cdir;modify=20240101000000; .\r\n"
        "type=pdir;modify=20240101000000; ..\r\n"
        "type=file;size=10;modify=20240101000000; index.html\r\n"
        "\r\n"
        "type=dir;modify=20240101000000; css\r\n";
    auto entries = parse::mlsd(listing, "/");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, "/index.html");
    EXPECT_EQ(entries[1].path, "/css");
    EXPECT_TRUE(entries[1].isDirectory());
}

// ---- LIST ----------------------------------------------------------------------------------

struct ListCase {
    std::string line;
    std::optional<Expected> want;
};

// "Now" for the year rules: 15 June 2025, noon.
const Date kNow = at(2025, 6, 15, 12, 0, 0);

class ListLineTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListLineTest, ReadsUnixAndDosLines) {
    const auto& c = GetParam();
    expectEntry(parse::listLine(c.line, "/site", kNow), c.want, "/site", c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListLineTest,
    ::testing::Values(
        ListCase{"-rw-r--r--    1 1000     1000            5 Jun 10 08:30 two  spaces.txt",
                 Expected{"two  spaces.txt", FileType::regular, 5, at(2025, 6, 10, 8, 30)}},
        ListCase{"drwxr-xr-x    2 0        0            4096 Jan 02  2020 sub dir",
                 Expected{"sub dir", FileType::directory, 4096, at(2020, 1, 2)}},
        ListCase{"lrwxrwxrwx    1 0        0              15 Jun 10 08:30 link -> two  spaces.txt",
                 Expected{"link", FileType::symbolicLink, 15, at(2025, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r--    1 0        0               5 Jun 10 08:30 a -> b.txt",
                 Expected{"a -> b.txt", FileType::regular, 5, at(2025, 6, 10, 8, 30)}},
        ListCase{"total 12", std::nullopt},
        ListCase{"drwxr-xr-x    3 0        0            4096 Jun 10 08:30 .", std::nullopt},
        ListCase{"drwxr-xr-x    3 0        0            4096 Jun 10 08:30 ..", std::nullopt},
        // Links, owner and group all small numbers (vsftpd's virtual users): no numeric date in them.
        ListCase{"drwxrwxrwx    2 1        1            4096 Dec 08 06:08 .", std::nullopt},
        ListCase{"drwxrwxrwx    2 1        1            2019 Dec 08 06:08 year-sized",
                 Expected{"year-sized", FileType::directory, 2019, at(2024, 12, 8, 6, 8)}},
        ListCase{"-rw-rw-rw-    1 1        1               3 Dec 08 06:08 renamed two  spaces.html",
                 Expected{"renamed two  spaces.html", FileType::regular, 3, at(2024, 12, 8, 6, 8)}},
        ListCase{"-rw-rw-rw-    1 2        3            4096 Jun 10 08:30 page.html",
                 Expected{"page.html", FileType::regular, 4096, at(2025, 6, 10, 8, 30)}},
        // Without a year: this year, unless that is more than a day ahead of now.
        ListCase{"-rw-r--r--    1 u        g               1 Dec 31 23:59 last year.txt",
                 Expected{"last year.txt", FileType::regular, 1, at(2024, 12, 31, 23, 59)}},
        ListCase{"-rw-r--r--    1 u        g               1 Jun 16 10:00 clock skew.txt",
                 Expected{"clock skew.txt", FileType::regular, 1, at(2025, 6, 16, 10, 0)}},
        ListCase{"-rw-r--r--    1 u        g               1 Jun 17 10:00 two days ahead.txt",
                 Expected{"two days ahead.txt", FileType::regular, 1, at(2024, 6, 17, 10, 0)}},
        ListCase{"-rw-r--r--   1 owner         123 Jun 10 08:30 no group.txt",
                 Expected{"no group.txt", FileType::regular, 123, at(2025, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r--    1 web 2024     web 2024      77 Feb 29  2024 numeric owner.txt",
                 Expected{"numeric owner.txt", FileType::regular, 77, at(2024, 2, 29)}},
        ListCase{"-rw-r--r--    1 0        0               1 Dec 06 21:26 caf\xE9.txt",
                 Expected{"caf" + kReplacement + ".txt", FileType::regular, 1, at(2024, 12, 6, 21, 26)}},
        ListCase{"-rw-r--r--    1 0        0               3 Jun 10 08:30  leading.txt",
                 Expected{" leading.txt", FileType::regular, 3, at(2025, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r--+   1 0        0               5 Jun 10  2021 acl.txt",
                 Expected{"acl.txt", FileType::regular, 5, at(2021, 6, 10)}},
        ListCase{"-rw-r--r--    1 0        0               5 Jun 10 08:30 .env\r",
                 Expected{".env", FileType::regular, 5, at(2025, 6, 10, 8, 30)}},
        // A device's "major, minor" is no size.
        ListCase{"brw-rw----    1 0        6          8,   0 Jun 10 08:30 sda",
                 Expected{"sda", FileType::unknown, -1, at(2025, 6, 10, 8, 30)}},
        ListCase{"crw-rw-rw-    1 0        0              0 Jun 10 08:30 null",
                 Expected{"null", FileType::unknown, 0, at(2025, 6, 10, 8, 30)}},
        ListCase{"06-10-25  08:30AM       <DIR>          Dos Folder",
                 Expected{"Dos Folder", FileType::directory, -1, at(2025, 6, 10, 8, 30)}},
        ListCase{"12-31-2019  11:59PM                 1234 report.txt",
                 Expected{"report.txt", FileType::regular, 1234, at(2019, 12, 31, 23, 59)}},
        ListCase{"01-01-20  12:05AM                    0 midnight.txt",
                 Expected{"midnight.txt", FileType::regular, 0, at(2020, 1, 1, 0, 5)}},
        // IIS with the year first and a 24-hour clock, sizes with thousands separators.
        ListCase{"2002-09-02  18:48       <DIR>          Year First",
                 Expected{"Year First", FileType::directory, -1, at(2002, 9, 2, 18, 48)}},
        ListCase{"2002-09-02  19:06   9,730 name.htm", Expected{"name.htm", FileType::regular, 9730, at(2002, 9, 2, 19, 6)}},
        ListCase{"12-31-2019  11:59PM            1,234,567 big.zip",
                 Expected{"big.zip", FileType::regular, 1234567, at(2019, 12, 31, 23, 59)}},
        ListCase{"12-31-2019  23:59                   17 late.txt",
                 Expected{"late.txt", FileType::regular, 17, at(2019, 12, 31, 23, 59)}},
        ListCase{"12-31-2019  11:59PM   12,34 bad grouping.txt", std::nullopt},
        ListCase{"12-31-2019  11:59PM   1234,567 bad grouping.txt", std::nullopt},
        // IIS names with leading spaces: "<DIR>" is padded by ten blanks, a size by one.
        ListCase{"06-10-25  08:30AM       <DIR>            two leading",
                 Expected{"  two leading", FileType::directory, -1, at(2025, 6, 10, 8, 30)}},
        ListCase{"06-10-25  08:30AM                 1234  one leading.txt",
                 Expected{" one leading.txt", FileType::regular, 1234, at(2025, 6, 10, 8, 30)}},
        // GNU ls: long-iso, and the iso form of a recent file (no year).
        ListCase{"-rw-r--r-- 1 user group 531 2005-06-07 21:22 long iso.txt",
                 Expected{"long iso.txt", FileType::regular, 531, at(2005, 6, 7, 21, 22)}},
        ListCase{"drwxr-xr-x 2 user group 4096 06-07 21:22 recent",
                 Expected{"recent", FileType::directory, 4096, at(2025, 6, 7, 21, 22)}},
        ListCase{"-rw-r--r-- 1 user group 8 12-24 10:00 december.txt",
                 Expected{"december.txt", FileType::regular, 8, at(2024, 12, 24, 10, 0)}},
        // The day before the month: what follows the time is the name, digits and all.
        ListCase{"drwxr-xr-x   2 user     group        4096 29 Jul 02:27 2014 Invoices",
                 Expected{"2014 Invoices", FileType::directory, 4096, at(2024, 7, 29, 2, 27)}},
        ListCase{"-rw-r--r--   1 user     group          12 29 Jul 02:27 2014 Invoices.pdf",
                 Expected{"2014 Invoices.pdf", FileType::regular, 12, at(2024, 7, 29, 2, 27)}},
        ListCase{"-rw-r--r--   1 user     group          12  3 Feb  2014 old.txt",
                 Expected{"old.txt", FileType::regular, 12, at(2014, 2, 3)}},
        ListCase{"hello world", std::nullopt},
        // A date that cannot be read where "ls -l" puts it: the name after it is sure, the date is not.
        ListCase{"-rw-r--r--    1 0        0               5 Foo 10 08:30 bad month.txt",
                 Expected{"bad month.txt", FileType::regular, 5, std::nullopt}},
        ListCase{"-rw-r--r--    1 0        0              -2 Jun 10 08:30 negative.txt", std::nullopt},
        ListCase{"2024-01-02  13:04       -02 negative.txt", std::nullopt},
        ListCase{std::string("-rw-r--r--    1 0        0               5 Jun 10 08:30 a\0b", 59), std::nullopt},
        ListCase{std::string("06-10-24  08:30AM       <DIR>          a\0b", 42), std::nullopt},
        ListCase{"", std::nullopt}));

TEST(ListListing, SkipsTotalDotEntriesAndBlankLines) {
    const std::string listing =
        "total 8\r\n"
        "drwxrwxrwx    3 0        0            4096 Dec 06 21:26 .\r\n"
        "drwxrwxrwx    3 0        0            4096 Dec 06 21:26 ..\r\n"
        "-rw-r--r--    1 0        0               0 Jan 02  2020 .hidden\r\n"
        "\r\n"
        "drwxr-xr-x    2 0        0            4096 Dec 06 21:26 sub dir\r\n";
    auto entries = parse::list(listing, "/a", kNow);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, "/a/.hidden");
    EXPECT_TRUE(entries[0].isHidden);
    EXPECT_EQ(entries[1].path, "/a/sub dir");
}

TEST(ListListing, LinesThatAreNoEntryAreCountedAsUnread) {
    struct Case {
        std::string listing;
        std::size_t entries, unread;
    };
    for (const Case& c : std::vector<Case>{
             {"", 0, 0},
             {"total 0\r\n", 0, 0},
             {"drwxr-xr-x 3 0 0 4096 Dec 06 21:26 .\r\ndrwxr-xr-x 3 0 0 4096 Dec 06 21:26 ..\r\n", 0, 0},
             {"Sorry, listing is not available\r\nPlease try later\r\n", 0, 2},
             {"+i8388621.29609,m824255902,/,\tdev\r\n", 1, 0},
             {"+i8388621.29609,m824255902,/,dev without its tab\r\n", 0, 1},
             {"-rw-r--r-- 1 0 0 5 Jun 10 08:30 a.txt\r\nnot a line\r\n", 1, 1},
         }) {
        auto got = parse::readList(c.listing, "/", kNow);
        EXPECT_EQ(got.entries.size(), c.entries) << c.listing;
        EXPECT_EQ(got.unreadLines, c.unread) << c.listing;
    }
    auto mlsd = parse::readMlsd("type=cdir;modify=20240101000000; .\r\n\r\n", "/");
    EXPECT_TRUE(mlsd.entries.empty());
    EXPECT_EQ(mlsd.unreadLines, 0u);
    mlsd = parse::readMlsd("garbage\r\ntype=file;size=1; a\r\n", "/");
    EXPECT_EQ(mlsd.entries.size(), 1u);
    EXPECT_EQ(mlsd.unreadLines, 1u);
}

// ---- LIST: the other forms servers send --------------------------------------------------------

// Lines written in each form as the servers document their output; "now" is kNow.
class ListFormTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListFormTest, ReadsNameKindSizeAndDate) {
    const auto& c = GetParam();
    expectEntry(parse::listLine(c.line, "/site", kNow), c.want, "/site", c.line);
}

INSTANTIATE_TEST_SUITE_P(
    UnixVariants, ListFormTest,
    ::testing::Values(
        // A mode of digits: the whole st_mode tells the kind, the permission bits alone do not.
        ListCase{"100644 1 owner group 1234 Jun 10 08:30 page.html",
                 Expected{"page.html", FileType::regular, 1234, at(2025, 6, 10, 8, 30)}},
        ListCase{"40755 2 owner group 4096 Jan 02  2020 images", Expected{"images", FileType::directory, 4096, at(2020, 1, 2)}},
        ListCase{"120777 1 owner group 9 Jun 10 08:30 latest -> v2",
                 Expected{"latest", FileType::symbolicLink, 9, at(2025, 6, 10, 8, 30)}},
        ListCase{"0644 1 owner group 5 Jun 10 08:30 plain.txt", Expected{"plain.txt", FileType::unknown, 5, at(2025, 6, 10, 8, 30)}},
        // A long group name runs into the size.
        ListCase{"-rw-r--r--   1 webmaster webdevelopers1234567 Jun 10 08:30 joined.txt",
                 Expected{"joined.txt", FileType::regular, 1234567, at(2025, 6, 10, 8, 30)}},
        ListCase{"drwxr-xr-x   2 webmaster www-data4096 Jan 02  2020 media",
                 Expected{"media", FileType::directory, 4096, at(2020, 1, 2)}},
        // No date column at all, with a group and without.
        ListCase{"-rw-r--r--   1 owner    group        2048 undated.txt", Expected{"undated.txt", FileType::regular, 2048, std::nullopt}},
        ListCase{"drwxr-xr-x   2 owner        4096 undated folder", Expected{"undated folder", FileType::directory, 4096, std::nullopt}},
        // "24:00" is the end of the day.
        ListCase{"-rw-r--r--   1 owner    group          10 Jun 10 24:00 midnight.txt",
                 Expected{"midnight.txt", FileType::regular, 10, at(2025, 6, 11, 0, 0)}},
        // Devices: "major, minor" (or "major,minor") is no size.
        ListCase{"crw-rw-rw-   1 root     root       1,   3 Jun 10 08:30 null", Expected{"null", FileType::unknown, -1, at(2025, 6, 10, 8, 30)}},
        ListCase{"brw-rw----   1 root     disk          8,0 Jan 02  2020 sda", Expected{"sda", FileType::unknown, -1, at(2020, 1, 2)}},
        // Sizes with a unit ("ls -lh"), in units of 1024.
        ListCase{"-rw-r--r--   1 owner    group       33.5k Jun 10 08:30 human.txt",
                 Expected{"human.txt", FileType::regular, 34304, at(2025, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r--   1 owner    group        2.1M Jan 02  2020 big.zip",
                 Expected{"big.zip", FileType::regular, 2202010, at(2020, 1, 2)}},
        ListCase{"drwxr-xr-x   2 owner    group        4.0K Jun 10 08:30 folder", Expected{"folder", FileType::directory, 4096, at(2025, 6, 10, 8, 30)}},
        // An unreadable date is not taken for a missing one: where it cannot be told where the
        // name starts, no entry; where it can, an entry without a date.
        ListCase{"-rw-r--r--   1 owner    group          12 Jun 10 8h30 not a clock.txt", std::nullopt},
        ListCase{"-rw-r--r--   1 owner    group          12 Foo 99 08:30 bad date.txt",
                 Expected{"bad date.txt", FileType::regular, 12, std::nullopt}}));

// A file is never hidden for its date: a date that names no day, cannot be read or reads two ways
// leaves the entry without one (and a line read two ways without its size too).
INSTANTIATE_TEST_SUITE_P(
    OddDates, ListFormTest,
    ::testing::Values(
        // Feb 29 without a year, in a year that has none: last year's, when that has one.
        ListCase{"-rw-r--r-- 1 user group 1234 Feb 29 12:00 leap.txt", Expected{"leap.txt", FileType::regular, 1234, at(2024, 2, 29, 12, 0)}},
        ListCase{"-rw-r--r-- 1 user group 1234 Feb 30 12:00 no such day.txt", Expected{"no such day.txt", FileType::regular, 1234, std::nullopt}},
        ListCase{"-rw-r--r-- 1 user group 1234 Feb 30  2019 no such day.txt", Expected{"no such day.txt", FileType::regular, 1234, std::nullopt}},
        ListCase{"-rw-r--r-- 1 user group 1234 31-02-2019 10:30 dmy.txt", Expected{"dmy.txt", FileType::regular, 1234, std::nullopt}},
        // Seconds since 1970.
        ListCase{"100644 1 owner group 1234 1718000000 epoch.txt", Expected{"epoch.txt", FileType::regular, 1234, at(2024, 6, 10, 6, 13, 20)}},
        ListCase{"-rw-r--r-- 1 owner group 1234 1718000000 epoch two.txt", Expected{"epoch two.txt", FileType::regular, 1234, at(2024, 6, 10, 6, 13, 20)}},
        ListCase{"0100644   500  101   12345    123456789       20-unix-numerical file",
                 Expected{"20-unix-numerical file", FileType::regular, 12345, at(1973, 11, 29, 21, 33, 9)}},
        // No date, and no link count either.
        ListCase{"100644 owner group 1234 undated.txt", Expected{"undated.txt", FileType::regular, 1234, std::nullopt}},
        ListCase{"-rw-r--r-- owner group 1234 undated two.txt", Expected{"undated two.txt", FileType::regular, 1234, std::nullopt}},
        // Month and day, then the year.
        ListCase{"-rw-r--r-- 1 user group 1234 09-26 2000 old.txt", Expected{"old.txt", FileType::regular, 1234, at(2000, 9, 26)}},
        // Month names in Asian signs that are not read: the name is after the time.
        ListCase{"-rw-r--r-- 1 user group 1234 \xE5\x8D\x81\xE4\xBA\x8C\xE6\x9C\x88 25 10:30 zh.txt",
                 Expected{"zh.txt", FileType::regular, 1234, std::nullopt}},
        ListCase{"-rw-r--r-- 1 user group 1234 \xE3\x8B\x8B 25  2019 sign.txt", Expected{"sign.txt", FileType::regular, 1234, std::nullopt}},
        // Either way round, with nothing to tell which.
        ListCase{"-rw-r--r-- 1 user group 1 03-04-2019 10:30 either.txt", Expected{"either.txt", FileType::regular, 1, std::nullopt}},
        ListCase{"d [R----F--] supervisor 512 03-04-2019 10:30 login", Expected{"login", FileType::directory, 512, std::nullopt}}));

INSTANTIATE_TEST_SUITE_P(
    DatesInOtherFormsAndLanguages, ListFormTest,
    ::testing::Values(
        // German, day first with a dot, with or without a comma; month first; Latin-1 "Mär".
        ListCase{"-rw-r--r-- 1 owner group 100 26. Juli 2020 juli.txt", Expected{"juli.txt", FileType::regular, 100, at(2020, 7, 26)}},
        ListCase{"-rw-r--r-- 1 owner group 100 26. Juli, 2020 komma.txt", Expected{"komma.txt", FileType::regular, 100, at(2020, 7, 26)}},
        ListCase{"-rw-r--r-- 1 owner group 100 M\xC3\xA4r 5 09:00 maerz.txt", Expected{"maerz.txt", FileType::regular, 100, at(2025, 3, 5, 9, 0)}},
        ListCase{"-rw-r--r-- 1 owner group 100 M\xE4r 5 09:00 latin1.txt", Expected{"latin1.txt", FileType::regular, 100, at(2025, 3, 5, 9, 0)}},
        ListCase{"-rw-r--r-- 1 owner group 100 3. Okt. 2019 oktober.txt", Expected{"oktober.txt", FileType::regular, 100, at(2019, 10, 3)}},
        ListCase{"-rw-r--r-- 1 owner group 100 24. Dez 18:00 dezember.txt",
                 Expected{"dezember.txt", FileType::regular, 100, at(2024, 12, 24, 18, 0)}},
        // French.
        ListCase{"-rw-r--r-- 1 owner group 100 3 f\xC3\xA9vr. 10:15 fevrier.txt",
                 Expected{"fevrier.txt", FileType::regular, 100, at(2025, 2, 3, 10, 15)}},
        ListCase{"-rw-r--r-- 1 owner group 100 12 D\xC3\x89\x43. 2019 decembre.txt",
                 Expected{"decembre.txt", FileType::regular, 100, at(2019, 12, 12)}},
        ListCase{"-rw-r--r-- 1 owner group 100 7 juin 2021 juin.txt", Expected{"juin.txt", FileType::regular, 100, at(2021, 6, 7)}},
        ListCase{"-rw-r--r-- 1 owner group 100 1 juil. 2021 juillet.txt", Expected{"juillet.txt", FileType::regular, 100, at(2021, 7, 1)}},
        ListCase{"-rw-r--r-- 1 owner group 100 15 ao\xC3\xBBt 2021 aout.txt", Expected{"aout.txt", FileType::regular, 100, at(2021, 8, 15)}},
        // Spanish, Italian, Portuguese.
        ListCase{"-rw-r--r-- 1 owner group 100 12 dic 2019 diciembre.txt", Expected{"diciembre.txt", FileType::regular, 100, at(2019, 12, 12)}},
        ListCase{"-rw-r--r-- 1 owner group 100 ene 3 08:00 enero.txt", Expected{"enero.txt", FileType::regular, 100, at(2025, 1, 3, 8, 0)}},
        ListCase{"-rw-r--r-- 1 owner group 100 5 mag 14:20 maggio.txt", Expected{"maggio.txt", FileType::regular, 100, at(2025, 5, 5, 14, 20)}},
        ListCase{"-rw-r--r-- 1 owner group 100 giu 14  2018 giugno.txt", Expected{"giugno.txt", FileType::regular, 100, at(2018, 6, 14)}},
        ListCase{"-rw-r--r-- 1 owner group 100 9 set 2020 setembro.txt", Expected{"setembro.txt", FileType::regular, 100, at(2020, 9, 9)}},
        ListCase{"-rw-r--r-- 1 owner group 100 out 30 2020 outubro.txt", Expected{"outubro.txt", FileType::regular, 100, at(2020, 10, 30)}},
        // Dutch, Swedish, Polish, Czech, Russian, and upper case.
        ListCase{"-rw-r--r-- 1 owner group 100 mrt 5 09:00 maart.txt", Expected{"maart.txt", FileType::regular, 100, at(2025, 3, 5, 9, 0)}},
        ListCase{"-rw-r--r-- 1 owner group 100 1 mei 2019 mei.txt", Expected{"mei.txt", FileType::regular, 100, at(2019, 5, 1)}},
        ListCase{"-rw-r--r-- 1 owner group 100 5 maj 2022 maj.txt", Expected{"maj.txt", FileType::regular, 100, at(2022, 5, 5)}},
        ListCase{"-rw-r--r-- 1 owner group 100 lis 11 2020 listopad.txt", Expected{"listopad.txt", FileType::regular, 100, at(2020, 11, 11)}},
        ListCase{"-rw-r--r-- 1 owner group 100 10. \xC5\x98\xC3\xAD\x6A 2019 rijen.txt", Expected{"rijen.txt", FileType::regular, 100, at(2019, 10, 10)}},
        ListCase{"-rw-r--r-- 1 owner group 100 \xD0\xBE\xD0\xBA\xD1\x82  1  2019 oktyabr.txt",
                 Expected{"oktyabr.txt", FileType::regular, 100, at(2019, 10, 1)}},
        ListCase{"-rw-r--r-- 1 owner group 100 5 MAI 2020 upper.txt", Expected{"upper.txt", FileType::regular, 100, at(2020, 5, 5)}},
        // Hungarian: the year first, everything dotted; a month ahead of now is last year's.
        ListCase{"-rw-r--r-- 1 owner group 100 2014. m\xC3\xA1rc. 15. 10:00 marcius.txt",
                 Expected{"marcius.txt", FileType::regular, 100, at(2014, 3, 15, 10, 0)}},
        ListCase{"-rw-r--r-- 1 owner group 100 szept 9 10:00 szeptember.txt",
                 Expected{"szeptember.txt", FileType::regular, 100, at(2024, 9, 9, 10, 0)}},
        // Numeric dates: year first and day first, with "-", "/" and "."; two- and three-digit
        // years; month first only where day first gives no date.
        ListCase{"-rw-r--r-- 1 owner group 100 2024/06/10 08:30 slashes.txt", Expected{"slashes.txt", FileType::regular, 100, at(2024, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2024.06.10 08:30 dots.txt", Expected{"dots.txt", FileType::regular, 100, at(2024, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 10.06.2024 08:30 day first.txt", Expected{"day first.txt", FileType::regular, 100, at(2024, 6, 10, 8, 30)}},
        // Either way round a date: a line alone does not tell which, so the entry has no date (a
        // listing's other dates may tell, see below).
        ListCase{"-rw-r--r-- 1 owner group 100 10/06/2024 no clock.txt", Expected{"no clock.txt", FileType::regular, 100, std::nullopt}},
        ListCase{"-rw-r--r-- 1 owner group 100 10-06-2024 08:30 dashes.txt", Expected{"dashes.txt", FileType::regular, 100, std::nullopt}},
        ListCase{"-rw-r--r-- 1 owner group 100 25-06-2024 08:30 day first.txt", Expected{"day first.txt", FileType::regular, 100, at(2024, 6, 25, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 10.06.24 08:30 short year.txt", Expected{"short year.txt", FileType::regular, 100, at(2024, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 10.06.99 old.txt", Expected{"old.txt", FileType::regular, 100, at(1999, 6, 10)}},
        ListCase{"-rw-r--r-- 1 owner group 100 103-06-10 08:30 since 1900.txt", Expected{"since 1900.txt", FileType::regular, 100, at(2003, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 06/25/2024 us.txt", Expected{"us.txt", FileType::regular, 100, at(2024, 6, 25)}},
        // CJK: the month with its unit character, then the day; or year, month and day each
        // with theirs, apart or together; in UTF-8 and in legacy encodings.
        ListCase{"-rw-r--r-- 1 owner group 100  6\xE6\x9C\x88 10 08:30 ja.txt", Expected{"ja.txt", FileType::regular, 100, at(2025, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 12\xE6\x9C\x88 24  2019 old ja.txt", Expected{"old ja.txt", FileType::regular, 100, at(2019, 12, 24)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2020\xE5\xB9\xB4 6\xE6\x9C\x88 10\xE6\x97\xA5 zh.txt",
                 Expected{"zh.txt", FileType::regular, 100, at(2020, 6, 10)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2020\xE5\xB9\xB4" "6\xE6\x9C\x88" "10\xE6\x97\xA5 08:30 together.txt",
                 Expected{"together.txt", FileType::regular, 100, at(2020, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2020\xEB\x85\x84 6\xEC\x9B\x94 10\xEC\x9D\xBC ko.txt",
                 Expected{"ko.txt", FileType::regular, 100, at(2020, 6, 10)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2020\x94\x4E" "6\x8C\x8E" "10\x93\xFA sjis.txt",
                 Expected{"sjis.txt", FileType::regular, 100, at(2020, 6, 10)}},
        ListCase{"-rw-r--r-- 1 owner group 100  6\xB7\xEE 10 08:30 eucjp.txt", Expected{"eucjp.txt", FileType::regular, 100, at(2025, 6, 10, 8, 30)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2019\xC4\xEA" "12\xD4\xC2" "24\xC8\xD5 gbk.txt",
                 Expected{"gbk.txt", FileType::regular, 100, at(2019, 12, 24)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2018\xA6\x7E" "3\xA4\xEB" "5\xA4\xE9 big5.txt", Expected{"big5.txt", FileType::regular, 100, at(2018, 3, 5)}},
        ListCase{"-rw-r--r-- 1 owner group 100 2020\xB3\xE2 6\xBF\xF9 10\xC0\xCF euckr.txt", Expected{"euckr.txt", FileType::regular, 100, at(2020, 6, 10)}}));

INSTANTIATE_TEST_SUITE_P(
    Families, ListFormTest,
    ::testing::Values(
        // VShell, with a mode and without; folders end in "/".
        ListCase{"-rwxr-xr-x   1 webuser  webgroup     12345 Apr 04, 2000 21:06 vshell.html",
                 Expected{"vshell.html", FileType::regular, 12345, at(2000, 4, 4, 21, 6)}},
        ListCase{"drwxr-xr-x   1 webuser  webgroup         0 Apr 04, 2000 21:06 images/",
                 Expected{"images", FileType::directory, 0, at(2000, 4, 4, 21, 6)}},
        ListCase{"        12345 Apr 04, 2000 21:06 index.html", Expected{"index.html", FileType::regular, 12345, at(2000, 4, 4, 21, 6)}},
        ListCase{"            0 Apr 04, 2000 21:06 scripts/", Expected{"scripts", FileType::directory, 0, at(2000, 4, 4, 21, 6)}},
        ListCase{"          512 Apr 04, 2000 no time.txt", Expected{"no time.txt", FileType::regular, 512, at(2000, 4, 4)}},
        // NetWare.
        ListCase{"d [R----F--] supervisor            512       Jan 16 18:53    login",
                 Expected{"login", FileType::directory, 512, at(2025, 1, 16, 18, 53)}},
        ListCase{"- [RWCEAFMS] webmaster         214059       Oct 20  2019    cx exe.html",
                 Expected{"cx exe.html", FileType::regular, 214059, at(2019, 10, 20)}},
        // EPLF.
        ListCase{"+i8388621.48594,m825718503,r,s280,\tdjb.html", Expected{"djb.html", FileType::regular, 280, at(1996, 3, 1, 22, 15, 3)}},
        ListCase{"+i8388621.50690,m824255907,/,\t514", Expected{"514", FileType::directory, -1, at(1996, 2, 13, 23, 58, 27)}},
        ListCase{"+s12,r,\t no date", Expected{" no date", FileType::regular, 12, std::nullopt}},
        // OS/2.
        ListCase{"     0           DIR   05-12-97   16:44  PSFONTS", Expected{"PSFONTS", FileType::directory, -1, at(1997, 5, 12, 16, 44)}},
        ListCase{" 36611      A          05-12-97   16:46  README.TXT", Expected{"README.TXT", FileType::regular, 36611, at(1997, 5, 12, 16, 46)}},
        ListCase{"  1234                 12-31-99   23:59  NO ATTR.TXT", Expected{"NO ATTR.TXT", FileType::regular, 1234, at(1999, 12, 31, 23, 59)}},
        // VMS: no version in the name, "X.DIR;1" is the folder X, sizes in blocks or with a unit.
        ListCase{"README.TXT;12         12/18      5-APR-2001 16:21:01  [GROUP,OWNER]  (RWED,RWED,RE,)",
                 Expected{"README.TXT", FileType::regular, 6144, at(2001, 4, 5, 16, 21, 1)}},
        ListCase{"ANONYMOUS.DIR;1        1/3       12-MAR-1996 10:23:46  [ANONYMOUS]   (RWE,RWE,RE,RE)",
                 Expected{"ANONYMOUS", FileType::directory, -1, at(1996, 3, 12, 10, 23, 46)}},
        ListCase{"DATA.BIN;3            14KB       5-APR-2001 16:21  [GROUP,OWNER]  (RWED,RWED,RE,)",
                 Expected{"DATA.BIN", FileType::regular, 14336, at(2001, 4, 5, 16, 21)}},
        ListCase{"LOG.TXT;1                9       1-JAN-2020 00:00:00.45", Expected{"LOG.TXT", FileType::regular, 4608, at(2020, 1, 1)}},
        ListCase{"SECRET.TXT;1   %RMS-E-PRV, insufficient privilege or file protection violation", std::nullopt},
        ListCase{"HUGE.TXT;1   33333333333333333/3   5-APR-2001 16:21:01", std::nullopt},  // no size in bytes fits
        ListCase{"Directory DISK$USER:[WEB]", std::nullopt},
        // AS/400.
        ListCase{"WEBOWNER        77824 02/23/00 15:09:55 *DIR       images/", Expected{"images", FileType::directory, -1, at(2000, 2, 23, 15, 9, 55)}},
        ListCase{"WEBOWNER         1234 02/23/00 15:09:55 *STMF      index.html",
                 Expected{"index.html", FileType::regular, 1234, at(2000, 2, 23, 15, 9, 55)}},
        ListCase{"QSYS             8192 23.02.00 15:09:55 *FILE      QCLSRC.FILE/", Expected{"QCLSRC.FILE", FileType::directory, -1, at(2000, 2, 23, 15, 9, 55)}},
        ListCase{"QSYS                                    *MEM       QGPL.LIB/QCLSRC.FILE/HELLO.MBR", Expected{"HELLO.MBR", FileType::regular, -1, std::nullopt}},
        // MS-DOS "dir" style: the name first, "<DIR>" or the size after it.
        ListCase{"Program Files          <DIR>     04-27-00  12:09p", Expected{"Program Files", FileType::directory, -1, at(2000, 4, 27, 12, 9)}},
        ListCase{"readme.txt            1,234     04-27-00   6:22a", Expected{"readme.txt", FileType::regular, 1234, at(2000, 4, 27, 6, 22)}},
        ListCase{"late night.htm           17     12-31-2019 11:59PM", Expected{"late night.htm", FileType::regular, 17, at(2019, 12, 31, 23, 59)}},
        // IIS with other separators.
        ListCase{"10.06.2024  08:30       <DIR>          dotted", Expected{"dotted", FileType::directory, -1, at(2024, 6, 10, 8, 30)}},
        ListCase{"06/10/2024  08:30PM             5 slashed.txt", Expected{"slashed.txt", FileType::regular, 5, at(2024, 6, 10, 20, 30)}}));

// Forms real servers send that were read with a wrong name, size or date, or not at all.
INSTANTIATE_TEST_SUITE_P(
    MoreServerForms, ListFormTest,
    ::testing::Values(
        // Month, day and year in digits; day, month name and a two-digit year in one token.
        ListCase{"-rw-r--r--   1 user group  1234 12-25-2019 10:30 name.txt", Expected{"name.txt", FileType::regular, 1234, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r--   1 user group  1234 25-Dec-19 10:30 dmy.txt", Expected{"dmy.txt", FileType::regular, 1234, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r--   1 user group  1234 25-Dec-2019 dmy4.txt", Expected{"dmy4.txt", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r--   1 user group  1234 25/dec/19 10:30 slashes.txt", Expected{"slashes.txt", FileType::regular, 1234, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r--   1 user group  1234 25-dec-19 name two.txt", Expected{"name two.txt", FileType::regular, 1234, at(2019, 12, 25)}},
        // A mode with the file type's bits and no link count.
        ListCase{"100644 user group 1234 Dec 25 2019 name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"40755 user group 4096 Dec 25 10:30 folder", Expected{"folder", FileType::directory, 4096, at(2024, 12, 25, 10, 30)}},
        // Month and day as numbers before the time (or the year).
        ListCase{"-rw-r--r-- 1 user group 1234 12 25 10:30 name", Expected{"name", FileType::regular, 1234, at(2024, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r-- 1 user group 1234 12 25  2019 name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25)}},
        // A size run into the group name, with no link count.
        ListCase{"-rw-r--r-- user group12345 Dec 25 10:30 name", Expected{"name", FileType::regular, 12345, at(2024, 12, 25, 10, 30)}},
        // East Asian dates: the year after the day, a bare year first, a time with its units,
        // in UTF-8, Shift_JIS and EUC-KR.
        ListCase{"-rw-r--r-- 1 user group 1234 12\xE6\x9C\x88 25\xE6\x97\xA5 2019\xE5\xB9\xB4 name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 12\x8C\x8E 25\x93\xFA 2019\x94\x4E sjis", Expected{"sjis", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 12\xBF\xF9 25\xC0\xCF 2019\xB3\xE2 euckr", Expected{"euckr", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019 12\xE6\x9C\x88 25\xE6\x97\xA5 name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019 12\x8C\x8E 25\x93\xFA sjis", Expected{"sjis", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019\xE5\xB9\xB4" "12\xE6\x9C\x88" "25\xE6\x97\xA5 10\xE6\x99\x82" "30\xE5\x88\x86 clock",
                 Expected{"clock", FileType::regular, 1234, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019\xB3\xE2 12\xBF\xF9 25\xC0\xCF 10\xBD\xC3 30\xBA\xD0 ko clock",
                 Expected{"ko clock", FileType::regular, 1234, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r-- 1 user group 1234 1\xEC\x9B\x94 25\xEC\x9D\xBC 10:30 ko", Expected{"ko", FileType::regular, 1234, at(2025, 1, 25, 10, 30)}},
        ListCase{"-rw-r--r-- 1 user group 1234 12\xE6\x9C\x88 25 2019 2020\xE5\xB9\xB4\xE5\xBA\xA6.txt",
                 Expected{"2020\xE5\xB9\xB4\xE5\xBA\xA6.txt", FileType::regular, 1234, at(2019, 12, 25)}},
        // Year, month and day with blanks padding the missing time, or dotted as Korean writes it.
        ListCase{"-rw-r--r-- 1 user group 1234 2019.12.25  name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019-12-25       padded.txt", Expected{"padded.txt", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019. 12. 25.  name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25)}},
        ListCase{"-rw-r--r-- 1 user group 1234 2019. 12. 25. 10:30 name", Expected{"name", FileType::regular, 1234, at(2019, 12, 25, 10, 30)}},
        // Two readings (size 1000 in 2019, or size 2019 this year) that agree on the name: the
        // entry has neither size nor date.
        ListCase{"-rw-r--r-- 1 user 1000 2019 12\xE6\x9C\x88 25\xE6\x97\xA5 name", Expected{"name", FileType::regular, -1, std::nullopt}},
        ListCase{"-rw-r--r-- user group1000 2019 12\xE6\x9C\x88 25\xE6\x97\xA5 name", Expected{"name", FileType::regular, -1, std::nullopt}},
        // Not sure where the name starts: no entry rather than a wrong one. A date in pieces not
        // read; a time where the name would start.
        ListCase{"-rw-r--r-- 1 user group 1234 12 \xE6\x9C\x88 25 \xE6\x97\xA5 10:30 name", std::nullopt},
        ListCase{"-rw-r--r-- 1 user group 1234 Jun 10 2019 10:30 name", std::nullopt},
        ListCase{"-rw-r--r-- 1 user group 1234 Dec-25-19 name", std::nullopt},
        ListCase{"-rw-r--r-- 1 user group 1234 2019/12 name", std::nullopt},
        // Numeric owner and group before an ISO date ("ls -n --time-style=long-iso"): links,
        // owner and group are no month, day and year, whatever the size.
        ListCase{"-rw-r--r-- 1 1 1 2019 2019-12-25 10:30 name.html", Expected{"name.html", FileType::regular, 2019, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r-- 1 5 12 2024 2019-12-25 10:30 name.html", Expected{"name.html", FileType::regular, 2024, at(2019, 12, 25, 10, 30)}},
        ListCase{"drwxr-xr-x 2 1 1 2019 2019-12-25 10:30 folder", Expected{"folder", FileType::directory, 2019, at(2019, 12, 25, 10, 30)}},
        ListCase{"-rw-r--r-- 1 0 0 2019 2019-12-25 10:30 name.html", Expected{"name.html", FileType::regular, 2019, at(2019, 12, 25, 10, 30)}},
        // A file named like a date after a numeric date keeps its name.
        ListCase{"-rw-r--r-- 1 user group 1234 12 25  2019 2020-01-01 notes.txt",
                 Expected{"2020-01-01 notes.txt", FileType::regular, 1234, at(2019, 12, 25)}},
        // The second line of a two-line VMS entry, alone: its time is no name.
        ListCase{"10     2-JUL-2003 10:30:08.59  [FTP_CLIENT,SCOT]      (RWED,RWED,RE,)", std::nullopt},
        ListCase{"  10     2-JUL-2003 10:30:08.59  [FTP_CLIENT,SCOT]      (RWED,RWED,RE,)", std::nullopt}));

TEST(ListListing, Feb29WithoutAYearIsNoDayWhenNeitherThisYearNorTheLastHasOne) {
    const Date march2026 = at(2026, 3, 1, 12, 0, 0);
    auto entry = parse::listLine("-rw-r--r-- 1 user group 9 Feb 29 12:00 leap.txt", "/", march2026);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "leap.txt");
    EXPECT_EQ(entry->modificationDate, std::nullopt);
    entry = parse::listLine("-rw-r--r-- 1 user group 9 Feb 29 12:00 leap.txt", "/", at(2025, 1, 10));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->modificationDate, at(2024, 2, 29, 12, 0));
}

TEST(ListListing, NumericDatesEitherWayRoundTakeTheOrderTheListingShows) {
    const std::string monthFirst =
        "-rw-r--r-- 1 user group 1 03-04-2019 10:30 a.txt\r\n"
        "-rw-r--r-- 1 user group 2 12-25-2019 10:30 b.txt\r\n";
    auto got = parse::readList(monthFirst, "/", kNow);
    ASSERT_EQ(got.entries.size(), 2u);
    EXPECT_EQ(got.entries[0].modificationDate, at(2019, 3, 4, 10, 30));
    EXPECT_EQ(got.entries[1].modificationDate, at(2019, 12, 25, 10, 30));

    const std::string dayFirst =
        "-rw-r--r-- 1 user group 1 03/04/2019 a.txt\r\n"
        "-rw-r--r-- 1 user group 2 25/12/2019 b.txt\r\n";
    got = parse::readList(dayFirst, "/", kNow);
    ASSERT_EQ(got.entries.size(), 2u);
    EXPECT_EQ(got.entries[0].modificationDate, at(2019, 4, 3));

    // Nothing shows the order, or both orders are shown: no reading gives the date, so the
    // entry comes without one; the file is listed all the same.
    const std::string unsure = "-rw-r--r-- 1 user group 1 03-04-2019 10:30 a.txt";
    for (const std::string& listing : {unsure + "\r\n" + unsure + "\r\n",
                                       monthFirst + "-rw-r--r-- 1 user group 3 25-12-2019 10:30 c.txt\r\n" + unsure + "\r\n"}) {
        got = parse::readList(listing, "/", kNow);
        std::size_t unsureEntries = 0;
        for (const auto& entry : got.entries) {
            if (entry.name != "a.txt") continue;
            ++unsureEntries;
            EXPECT_EQ(entry.modificationDate, std::nullopt) << listing;
        }
        EXPECT_EQ(unsureEntries, 2u) << listing;
        EXPECT_EQ(got.unreadLines, 0u) << listing;
    }
    // The same in NetWare's lines, which read these dates too.
    got = parse::readList("d [R----F--] supervisor 512 03-04-2019 10:30 login\r\n", "/", kNow);
    ASSERT_EQ(got.entries.size(), 1u);
    EXPECT_EQ(got.entries[0].name, "login");
    EXPECT_EQ(got.entries[0].modificationDate, std::nullopt);
}

// Whatever form a date takes, a line gives the name that follows it, or no entry: never a name
// with pieces of the date in it.
TEST(ListListing, ANameNeverHoldsPiecesOfTheDate) {
    const std::vector<std::string> dates = {
        "Dec 25 10:30", "Dec 25  2019", "25 Dec 10:30", "25 Dec 2019", "25. Dez. 2019", "Dec 25, 2019 10:30",
        "12-25-2019 10:30", "25-12-2019", "2019-12-25", "2019.12.25", "2019/12/25 10:30", "25.12.19",
        "25-Dec-19 10:30", "25-Dec-2019", "25/Dec/19", "Dec-25-19", "12 25 10:30", "12 25  2019",
        "2019. 12. 25.", "2019. 12. 25. 10:30", "12-25 10:30", "Jun 10 2019 10:30",
        "12\xE6\x9C\x88 25\xE6\x97\xA5 10:30", "12\xE6\x9C\x88 25 10:30", "12\xE6\x9C\x88 25\xE6\x97\xA5 2019\xE5\xB9\xB4",
        "2019\xE5\xB9\xB4" "12\xE6\x9C\x88" "25\xE6\x97\xA5", "2019 12\xE6\x9C\x88 25\xE6\x97\xA5",
        "2019\xE5\xB9\xB4 12\xE6\x9C\x88 25\xE6\x97\xA5 10\xE6\x99\x82" "30\xE5\x88\x86",
        "12 \xE6\x9C\x88 25 \xE6\x97\xA5 10:30", "12\x8C\x8E 25\x93\xFA 2019\x94\x4E", "2019\x94\x4E 12\x8C\x8E 25\x93\xFA",
        "12\xBF\xF9 25\xC0\xCF 10\xBD\xC3 30\xBA\xD0", "2019\xB3\xE2 12\xBF\xF9 25\xC0\xCF",
    };
    const std::vector<std::string> prefixes = {"-rw-r--r--   1 user group 1234 ", "-rw-r--r-- user group 1234 ",
                                               "100644 user group 1234 ", "-rw-r--r-- 1 user 1234 ",
                                               "-rw-r--r-- user group1234 "};
    const std::vector<std::string> names = {"name.txt", "2020 plan.txt", "a b"};
    for (const auto& prefix : prefixes) {
        for (const auto& date : dates) {
            for (const auto& name : names) {
                const std::string line = prefix + date + " " + name;
                auto entry = parse::listLine(line, "/", kNow);
                if (!entry) continue;
                EXPECT_EQ(entry->name, name) << line;
                // -1 where the line reads two ways that agree on the name alone.
                EXPECT_TRUE(entry->size == 1234 || entry->size == -1) << line;
                if (entry->modificationDate) {
                    const auto ymd = std::chrono::year_month_day{std::chrono::floor<std::chrono::days>(*entry->modificationDate)};
                    EXPECT_TRUE(ymd.year() == std::chrono::year{2019} || ymd.year() == std::chrono::year{2024}) << line;
                }
            }
        }
    }
}

TEST(ListListing, JoinsAVmsEntryThatWrapsOntoASecondLineAndSkipsItsHeadings) {
    const std::string listing =
        "\r\n"
        "Directory DISK$USER:[WEB]\r\n"
        "\r\n"
        "A_VERY_LONG_FILE_NAME_THAT_DOES_NOT_FIT.HTML;2\r\n"
        "                      4/6        5-APR-2001 16:21:01  [GROUP,OWNER]  (RWED,RWED,RE,)\r\n"
        "INDEX.HTML;7           2/3        6-APR-2001 09:00:00  [GROUP,OWNER]  (RWED,RWED,RE,)\r\n"
        "ANOTHER_NAME_TOO_LONG_FOR_ITS_COLUMN.DIR;1\r\n"
        "                      1/3        7-APR-2001 10:00:00  [GROUP,OWNER]  (RWE,RWE,RE,RE)\r\n"
        "\r\n"
        "Total of 3 files, 7/12 blocks.\r\n"
        "Grand total of 1 directory, 3 files, 7/12 blocks.\r\n";
    auto got = parse::readList(listing, "/www", kNow);
    EXPECT_EQ(got.unreadLines, 0u) << ::testing::PrintToString(got.unreadSamples);
    ASSERT_EQ(got.entries.size(), 3u);
    EXPECT_EQ(got.entries[0].path, "/www/A_VERY_LONG_FILE_NAME_THAT_DOES_NOT_FIT.HTML");
    EXPECT_EQ(got.entries[0].size, 4 * 512);
    EXPECT_EQ(got.entries[0].modificationDate, at(2001, 4, 5, 16, 21, 1));
    EXPECT_EQ(got.entries[1].name, "INDEX.HTML");
    EXPECT_EQ(got.entries[2].name, "ANOTHER_NAME_TOO_LONG_FOR_ITS_COLUMN");
    EXPECT_TRUE(got.entries[2].isDirectory());

    // Servers that do not indent the second line: it is the rest of the entry all the same.
    got = parse::readList("FTP_CLIENT_WITH_A_LONG_NAME.EXE;1\r\n"
                          "10     2-JUL-2003 10:30:08.59  [FTP_CLIENT,SCOT]      (RWED,RWED,RE,)\r\n",
                          "/", kNow);
    EXPECT_EQ(got.unreadLines, 0u) << ::testing::PrintToString(got.unreadSamples);
    ASSERT_EQ(got.entries.size(), 1u);
    EXPECT_EQ(got.entries[0].name, "FTP_CLIENT_WITH_A_LONG_NAME.EXE");
    EXPECT_EQ(got.entries[0].size, 10 * 512);
    EXPECT_EQ(got.entries[0].modificationDate, at(2003, 7, 2, 10, 30, 8));

    // A lone name that nothing follows is a line that could not be read.
    got = parse::readList("LONELY_NAME.TXT;1\r\nINDEX.HTML;7  2/3  6-APR-2001 09:00:00\r\n", "/", kNow);
    EXPECT_EQ(got.entries.size(), 1u);
    EXPECT_EQ(got.unreadLines, 1u);
}

TEST(ListListing, MainframeDataSetListingsAreAFormThatIsNotSupported) {
    for (const std::string& listing : {
             // MVS data sets
             std::string("Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname\r\n"
                         "WEB001 3390   2024/06/10  1   15  FB      80 27920  PS  WEB.INDEX.HTML\r\n"
                         "WEB001 3390   2024/06/10  1    2  VB     255 27998  PO  WEB.SCRIPTS\r\n"),
             // the members of a partitioned data set
             std::string(" Name     VV.MM   Created       Changed      Size  Init   Mod   Id\r\n"
                         "INDEX     01.03 2024/05/01 2024/06/10 13:45    52    52     0 WEBUSER\r\n"),
             // JES spool
             std::string("JOBNAME  JOBID    OWNER    STATUS CLASS\r\n"
                         "WEBJOB   JOB01234 WEBUSER  OUTPUT A        RC=0000 3 spool files\r\n"),
             // z/VM CMS files, without a heading
             std::string("PROFILE  EXEC     A1 V         17         24          1 2024-06-10 15:30:05 -\r\n"
                         "INDEX    HTML     A1 V         80        120          3 2024-06-10 15:31:00 -\r\n"),
             // HP NonStop
             std::string("File         Code             EOF  Last Modification    Owner  RWEP\r\n"
                         "INDEX         101            5000  10-Jun-24 13:46:23 255,255 \"oooo\"\r\n"),
         }) {
        auto got = parse::readList(listing, "/", kNow);
        EXPECT_TRUE(got.unsupportedForm) << listing;
        EXPECT_TRUE(got.entries.empty()) << listing;
    }
    // Lines that are just unreadable are no such form.
    auto got = parse::readList("Sorry, listing is not available\r\n", "/", kNow);
    EXPECT_FALSE(got.unsupportedForm);
    EXPECT_EQ(got.unreadLines, 1u);
}

TEST(ListListing, AMixedListingKeepsTheLinesItReadsAndEachUnreadableLineOnce) {
    const std::string listing =
        "-rw-r--r-- 1 owner group 5 Jun 10 08:30 a.txt\r\n"
        "this line is no entry\r\n"
        "drwxr-xr-x 2 owner group 4096 Jun 10 08:30 b\r\n"
        "this line is no entry\r\n"
        "?!\r\n";
    auto got = parse::readList(listing, "/", kNow);
    ASSERT_EQ(got.entries.size(), 2u);
    EXPECT_EQ(got.entries[0].name, "a.txt");
    EXPECT_EQ(got.entries[1].name, "b");
    EXPECT_EQ(got.unreadLines, 3u);
    EXPECT_EQ(got.unreadSamples, (std::vector<std::string>{"this line is no entry", "?!"}));
    EXPECT_FALSE(got.unsupportedForm);

    // Kept lines have a limit; the count does not.
    std::string many;
    for (std::size_t i = 0; i < 3 * parse::Listing::kMaxUnreadSamples; ++i) many += "garbage " + std::to_string(i) + "\r\n";
    got = parse::readList(many, "/", kNow);
    EXPECT_EQ(got.unreadLines, 3 * parse::Listing::kMaxUnreadSamples);
    EXPECT_EQ(got.unreadSamples.size(), parse::Listing::kMaxUnreadSamples);
    EXPECT_EQ(got.unreadSamples.front(), "garbage 0");
}

// ---- permission bits -----------------------------------------------------------------------

struct ModeCase {
    std::string line;
    std::optional<unsigned> want;
};

class MlsdModeTest : public ::testing::TestWithParam<ModeCase> {};
TEST_P(MlsdModeTest, ReadsTheUnixModeFact) { EXPECT_EQ(parse::mlsdMode(GetParam().line), GetParam().want) << GetParam().line; }
INSTANTIATE_TEST_SUITE_P(
    Facts, MlsdModeTest,
    ::testing::Values(ModeCase{" type=file;size=4;unix.mode=0640; /a/b.txt", 0640u},
                      ModeCase{"type=file;UNIX.mode=755;modify=20240101000000; x", 0755u},
                      ModeCase{" size=4;type=file;unix.mode=0o644; /no-chmod/a.txt", 0644u},  // pyftpdlib
                      ModeCase{"type=file;unix.mode=4755; setuid", 04755u},
                      ModeCase{"type=file;size=4; unix.mode=0640", std::nullopt},  // only a name
                      ModeCase{"type=file;unix.mode=0x1f; x", std::nullopt}, ModeCase{"type=file;unix.mode=; x", std::nullopt},
                      ModeCase{"type=file;unix.mode=0689; x", std::nullopt}, ModeCase{"", std::nullopt}));

class ListModeTest : public ::testing::TestWithParam<ModeCase> {};
TEST_P(ListModeTest, ReadsTheModeField) { EXPECT_EQ(parse::listMode(GetParam().line), GetParam().want) << GetParam().line; }
INSTANTIATE_TEST_SUITE_P(
    Lines, ListModeTest,
    ::testing::Values(ModeCase{"-rw-r-----    1 0        0               6 Dec 07 02:48 a b.txt\r\n", 0640u},
                      ModeCase{"-rwxr-xr-x 1 u g 5 Jan 1 2020 run.cgi", 0755u},
                      ModeCase{"-rwsr-sr-T 1 u g 5 Jan 1 2020 odd", 07754u},
                      ModeCase{"-rwSr-Sr-t 1 u g 5 Jan 1 2020 odd", 07645u},
                      ModeCase{"-rw-r--r--+ 1 u g 5 Jan 1 2020 acl", 0644u},
                      ModeCase{"lrwxrwxrwx 1 u g 5 Jan 1 2020 l -> t", 0777u},
                      ModeCase{"01-01-20  12:05AM                    0 dos.txt", std::nullopt},
                      ModeCase{"-rw-r--r-x1 u g 5 Jan 1 2020 x", std::nullopt},
                      ModeCase{"-rwzr--r-- 1 u g 5 Jan 1 2020 x", std::nullopt}, ModeCase{"total 8", std::nullopt},
                      // A mode of digits, with the file type bits or without; EPLF's "up" fact.
                      ModeCase{"100640 1 u g 5 Jun 10 08:30 x", 0640u}, ModeCase{"4750 1 u g 5 Jun 10 08:30 x", 04750u},
                      ModeCase{"+i1.2,m824255902,r,s5,up640,\tx", 0640u}, ModeCase{"+i1.2,r,s5,\tx", std::nullopt},
                      // Digits that start other forms are no mode.
                      ModeCase{" 36611      A          05-12-97   16:46  README.TXT", std::nullopt},
                      ModeCase{"06-10-25  08:30AM       <DIR>          folder", std::nullopt}));

// ---- PROPFIND ------------------------------------------------------------------------------

struct PropfindCase {
    std::string what;
    std::string basePath, folder;
    std::string xml;
    std::vector<Expected> want;  // in document order
};

class PropfindTest : public ::testing::TestWithParam<PropfindCase> {};

TEST_P(PropfindTest, ReadsResponsesByNamespaceAndDropsTheFolderItself) {
    const auto& c = GetParam();
    auto entries = parse::propfind(c.xml, c.basePath, c.folder);
    ASSERT_TRUE(entries) << c.what;
    ASSERT_EQ(entries->size(), c.want.size()) << c.what;
    for (std::size_t i = 0; i < c.want.size(); ++i) {
        std::optional<FileObject> got = (*entries)[i];
        expectEntry(got, c.want[i], path::normalize(c.folder), c.what);
    }
}

const std::string kApache = R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:ns0="DAV:">
<D:response xmlns:lp1="DAV:" xmlns:lp2="http://apache.org/dav/props/" xmlns:g0="DAV:">
<D:href>/dav/site/</D:href>
<D:propstat><D:prop><lp1:resourcetype><D:collection/></lp1:resourcetype>
<lp1:getlastmodified>Sun, 06 Dec 2026 21:11:01 GMT</lp1:getlastmodified></D:prop>
<D:status>HTTP/1.1 200 OK</D:status></D:propstat>
<D:propstat><D:prop><g0:getcontentlength/></D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>
</D:response>
<D:response xmlns:lp1="DAV:" xmlns:lp2="http://apache.org/dav/props/" xmlns:g0="DAV:">
<D:href>/dav/site/a%20b%20%20c.html</D:href>
<D:propstat><D:prop><lp1:resourcetype/>
<lp1:creationdate>2026-12-06T21:11:01Z</lp1:creationdate>
<lp1:getcontentlength>12</lp1:getcontentlength>
<lp1:getlastmodified>Sun, 06 Dec 2026 21:11:02 GMT</lp1:getlastmodified>
<lp2:executable>F</lp2:executable></D:prop>
<D:status>HTTP/1.1 200 OK</D:status></D:propstat>
</D:response>
<D:response xmlns:lp1="DAV:" xmlns:g0="DAV:">
<D:href>/dav/site/sub%20dir/</D:href>
<D:propstat><D:prop><lp1:resourcetype><D:collection/></lp1:resourcetype>
<lp1:getlastmodified>Mon, 07 Dec 2026 08:00:00 GMT</lp1:getlastmodified></D:prop>
<D:status>HTTP/1.1 200 OK</D:status></D:propstat>
<D:propstat><D:prop><g0:getcontentlength/></D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>
</D:response>
</D:multistatus>)";

const std::string kDefaultNamespaceFullUrls = R"(<?xml version="1.0"?>
<multistatus xmlns="DAV:">
 <response><href>http://example.org:8080/remote.php/webdav/Docs</href>
  <propstat><prop><resourcetype><collection/></resourcetype></prop><status>HTTP/1.1 200 OK</status></propstat></response>
 <response><href>http://example.org:8080/remote.php/webdav/Docs/%C3%A9t%C3%A9.txt</href>
  <propstat><prop><resourcetype/><getcontentlength>3</getcontentlength>
   <getlastmodified>Thu, 01 Jan 2015 10:00:00 GMT</getlastmodified></prop><status>HTTP/1.1 200 OK</status></propstat></response>
 <response><href>https://example.org/remote.php/webdav/Docs/caf%E9.txt</href>
  <propstat><prop><getcontentlength>1</getcontentlength></prop><status>HTTP/1.1 200 OK</status></propstat></response>
</multistatus>)";

const std::string kMixedPropstats = R"(<d:multistatus xmlns:d="DAV:" xmlns:x="urn:other">
 <d:response><d:href>/f/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/></d:resourcetype></d:prop>
  <d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>
 <d:response><d:href>/f/file.txt</d:href>
  <d:propstat><d:prop><d:getcontentlength>999</d:getcontentlength><d:resourcetype><d:collection/></d:resourcetype></d:prop>
   <d:status>HTTP/1.1 404 Not Found</d:status></d:propstat>
  <d:propstat><d:prop><d:resourcetype/><x:getcontentlength>77</x:getcontentlength>
   <d:getlastmodified>2021-03-04T05:06:07+02:00</d:getlastmodified></d:prop>
   <d:status>HTTP/1.1 200 OK</d:status></d:propstat>
  <x:href>/f/not-this-one</x:href></d:response>
 <ns9:response xmlns:ns9="DAV:"><ns9:href>/f/later%20prefix/</ns9:href>
  <ns9:propstat><ns9:prop><ns9:resourcetype><ns9:collection/></ns9:resourcetype><ns9:getcontentlength>0</ns9:getcontentlength></ns9:prop>
   <ns9:status>HTTP/1.1 200 OK</ns9:status></ns9:propstat></ns9:response>
 <x:response><x:href>/f/foreign</x:href></x:response>
</d:multistatus>)";

const std::string kRoot = R"(<D:multistatus xmlns:D="DAV:">
<D:response><D:href>/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/index.html</D:href><D:propstat><D:prop><D:resourcetype/><D:getcontentlength>4</D:getcontentlength></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/.well-known/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>)";

// "#" and "?" written raw, folders with their size on disk, the listed folder's own href
// spelled differently (encoded otherwise, doubled and trailing slashes).
const std::string kRawDelimiters = R"(<D:multistatus xmlns:D="DAV:">
<D:response><D:href>http://h:81/dav//hash%231?x//</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype><D:getcontentlength>4096</D:getcontentlength></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/dav/hash#1?x/a#b?c.txt</D:href><D:propstat><D:prop><D:resourcetype/><D:getcontentlength>7</D:getcontentlength></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/dav/hash#1%3Fx/sub#dir/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype><D:getcontentlength>4096</D:getcontentlength></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/dav/hash#1?x/#</D:href><D:propstat><D:prop><D:getcontentlength>0</D:getcontentlength></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>)";

const std::string kEncodedBase = R"(<D:multistatus xmlns:D="DAV:">
<D:response><D:href>/my%20dav/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/my%20dav/f%2B1.txt</D:href><D:propstat><D:prop><D:resourcetype/><D:getcontentlength>2</D:getcontentlength></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>)";

INSTANTIATE_TEST_SUITE_P(
    Documents, PropfindTest,
    ::testing::Values(
        PropfindCase{"apache prefixes, 404 propstats", "/dav", "/site", kApache,
                     {Expected{"a b  c.html", FileType::regular, 12, at(2026, 12, 6, 21, 11, 2)},
                      Expected{"sub dir", FileType::directory, -1, at(2026, 12, 7, 8, 0, 0)}}},
        PropfindCase{"default namespace, full URLs", "/remote.php/webdav", "/Docs", kDefaultNamespaceFullUrls,
                     {Expected{"\xC3\xA9t\xC3\xA9.txt", FileType::regular, 3, at(2015, 1, 1, 10, 0, 0)},
                      Expected{"caf" + kReplacement + ".txt", FileType::unknown, 1, std::nullopt}}},
        PropfindCase{"only 2xx propstats, foreign namespaces ignored", "/", "/f", kMixedPropstats,
                     {Expected{"file.txt", FileType::regular, -1, at(2021, 3, 4, 3, 6, 7)},
                      Expected{"later prefix", FileType::directory, -1, std::nullopt}}},
        PropfindCase{"root folder", "/", "/", kRoot,
                     {Expected{"index.html", FileType::regular, 4, std::nullopt},
                      Expected{".well-known", FileType::directory, -1, std::nullopt}}},
        PropfindCase{"raw # and ?, folder lengths", "/dav", "/hash#1?x", kRawDelimiters,
                     {Expected{"a#b?c.txt", FileType::regular, 7, std::nullopt},
                      Expected{"sub#dir", FileType::directory, -1, std::nullopt},
                      Expected{"#", FileType::unknown, 0, std::nullopt}}},
        PropfindCase{"encoded base path", "/my dav", "/", kEncodedBase,
                     {Expected{"f+1.txt", FileType::regular, 2, std::nullopt}}}));

TEST(Propfind, DropsHrefsWhoseNameHoldsANul) {
    const std::string xml = R"(<D:multistatus xmlns:D="DAV:">
<D:response><D:href>/dav/a%00b.txt</D:href><D:propstat><D:prop><D:resourcetype/></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/dav/ok.txt</D:href><D:propstat><D:prop><D:resourcetype/></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>)";
    auto entries = parse::propfind(xml, "/dav", "/");
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ(entries->front().name, "ok.txt");
}

TEST(Propfind, CreationDatesComeFromTheCreationdateProperty) {
    auto entries = parse::propfind(kApache, "/dav", "/site");
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].creationDate, at(2026, 12, 6, 21, 11, 1));
    EXPECT_EQ((*entries)[1].creationDate, std::nullopt);
}

TEST(Propfind, OwnTypeIsTheFirstResponsesResourceType) {
    EXPECT_EQ(parse::propfindOwnType(kApache), FileType::directory);
    EXPECT_EQ(parse::propfindOwnType(R"(<multistatus xmlns="DAV:"><response><href>/a#b</href>
        <propstat><prop><resourcetype><collection/></resourcetype></prop><status>HTTP/1.1 404 Not Found</status></propstat>
        <propstat><prop><resourcetype/></prop><status>HTTP/1.1 200 OK</status></propstat></response></multistatus>)"),
              FileType::regular);
    EXPECT_EQ(parse::propfindOwnType(R"(<x:multistatus xmlns:x="DAV:"><x:response><x:href>/a</x:href></x:response></x:multistatus>)"),
              FileType::unknown);
    EXPECT_EQ(parse::propfindOwnType("<D:multistatus xmlns:D=\"DAV:\"/>"), std::nullopt);
    EXPECT_EQ(parse::propfindOwnType("<html>Login</html>"), std::nullopt);
}

TEST(Propfind, RefusesWhatIsNotAMultistatusDocument) {
    EXPECT_FALSE(parse::propfind("", "/", "/"));
    EXPECT_FALSE(parse::propfind("<html><body>Login</body></html>", "/", "/"));
    EXPECT_FALSE(parse::propfind("<multistatus xmlns=\"urn:not-dav\"/>", "/", "/"));
    EXPECT_FALSE(parse::propfind("<D:multistatus xmlns:D=\"DAV:\"><D:response>", "/", "/"));
    auto empty = parse::propfind("<D:multistatus xmlns:D=\"DAV:\"/>", "/", "/");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(Multistatus, FindsTheFirstFailedResponse) {
    const std::string xml = R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:">
<D:response><D:href>/dav/t/ok.txt</D:href><D:status>HTTP/1.1 204 No Content</D:status></D:response>
<D:response><D:href>http://h/dav/t/locked%20file.txt</D:href><D:status>HTTP/1.1 423 Locked</D:status></D:response>
<D:response><D:href>/dav/t/other.txt</D:href><D:status>HTTP/1.1 403 Forbidden</D:status></D:response>
</D:multistatus>)";
    auto failure = parse::firstMultistatusFailure(xml);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->status, 423);
    EXPECT_EQ(failure->text, "Locked");
    EXPECT_EQ(failure->href, "/dav/t/locked file.txt");
    EXPECT_FALSE(parse::firstMultistatusFailure(
        "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/a</D:href><D:status>HTTP/1.1 200 OK</D:status></D:response></D:multistatus>"));
}

// ---- dates ---------------------------------------------------------------------------------

struct DateCase {
    std::string text;
    std::optional<Date> want;
};

class HttpDateTest : public ::testing::TestWithParam<DateCase> {};
TEST_P(HttpDateTest, Reads) { EXPECT_EQ(parse::httpDate(GetParam().text), GetParam().want) << GetParam().text; }
INSTANTIATE_TEST_SUITE_P(
    Forms, HttpDateTest,
    ::testing::Values(DateCase{"Sun, 06 Nov 1994 08:49:37 GMT", at(1994, 11, 6, 8, 49, 37)},
                      DateCase{"  Thu, 29 Feb 2024 23:59:59 GMT ", at(2024, 2, 29, 23, 59, 59)},
                      DateCase{"Sunday, 06-Nov-94 08:49:37 GMT", at(1994, 11, 6, 8, 49, 37)},
                      DateCase{"Sun Nov  6 08:49:37 1994", at(1994, 11, 6, 8, 49, 37)},
                      DateCase{"Fri, 29 Feb 2023 00:00:00 GMT", std::nullopt},
                      DateCase{"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
                      DateCase{"Sun, 06 Nov 1994 08:49:37 CET", std::nullopt},
                      DateCase{"2024-01-01T00:00:00Z", std::nullopt}, DateCase{"", std::nullopt},
                      // Beyond what a time point holds (about 1678 to 2261): no date, no overflow.
                      DateCase{"Sun, 06 Nov 9999 08:49:37 GMT", std::nullopt},
                      DateCase{"Sun, 06 Nov 1000 08:49:37 GMT", std::nullopt}));

class Rfc3339Test : public ::testing::TestWithParam<DateCase> {};
TEST_P(Rfc3339Test, Reads) { EXPECT_EQ(parse::rfc3339(GetParam().text), GetParam().want) << GetParam().text; }
INSTANTIATE_TEST_SUITE_P(
    Forms, Rfc3339Test,
    ::testing::Values(DateCase{"2026-12-06T21:11:01Z", at(2026, 12, 6, 21, 11, 1)},
                      DateCase{"2026-12-06t21:11:01.5z", at(2026, 12, 6, 21, 11, 1, 500)},
                      DateCase{"2021-03-04T05:06:07+02:00", at(2021, 3, 4, 3, 6, 7)},
                      DateCase{"2021-03-04T05:06:07.123456-01:30", at(2021, 3, 4, 6, 36, 7, 123)},
                      DateCase{"2021-03-04 05:06:07Z", at(2021, 3, 4, 5, 6, 7)},
                      DateCase{"2021-02-30T05:06:07Z", std::nullopt}, DateCase{"2021-03-04T05:06Z", std::nullopt},
                      DateCase{"2021-03-04T05:06:07+0200", std::nullopt}, DateCase{"yesterday", std::nullopt},
                      DateCase{"2300-01-01T00:00:00Z", std::nullopt}, DateCase{"2021-03-04T05:06:07+-1:00", std::nullopt}));

class MlsdTimeTest : public ::testing::TestWithParam<DateCase> {};
TEST_P(MlsdTimeTest, Reads) { EXPECT_EQ(parse::mlsdTime(GetParam().text), GetParam().want) << GetParam().text; }
INSTANTIATE_TEST_SUITE_P(Forms, MlsdTimeTest,
                         ::testing::Values(DateCase{"20240102030405", at(2024, 1, 2, 3, 4, 5)},
                                           DateCase{"20240102030405.9", at(2024, 1, 2, 3, 4, 5, 900)},
                                           DateCase{"20240102030405.123456", at(2024, 1, 2, 3, 4, 5, 123)},
                                           DateCase{"20241302030405", std::nullopt}, DateCase{"202401020304", std::nullopt},
                                           DateCase{"20240102030405.", std::nullopt}, DateCase{"x", std::nullopt},
                                           DateCase{"99990102030405", std::nullopt}));

// ---- paths ---------------------------------------------------------------------------------

struct PathCheckCase {
    std::string path;
    bool refused;
};

class PathCheckTest : public ::testing::TestWithParam<PathCheckCase> {};
TEST_P(PathCheckTest, RefusesDotSegmentsAndControlCharacters) {
    auto error = path::check(GetParam().path);
    EXPECT_EQ(static_cast<bool>(error), GetParam().refused) << GetParam().path;
    if (error) {
        EXPECT_EQ(error->kind, files::ErrorKind::invalidPath);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Paths, PathCheckTest,
    ::testing::Values(PathCheckCase{"", false}, PathCheckCase{"/", false}, PathCheckCase{"/a b/c  d.txt", false},
                      PathCheckCase{"/.hidden", false}, PathCheckCase{"/a..b", false}, PathCheckCase{"/...", false},
                      PathCheckCase{"/\xC3\xA9t\xC3\xA9", false}, PathCheckCase{"relative/ok", false},
                      PathCheckCase{"/a/../b", true}, PathCheckCase{"..", true}, PathCheckCase{"/./", true},
                      PathCheckCase{"/a/.", true}, PathCheckCase{"./x", true}, PathCheckCase{"/a\r", true},
                      PathCheckCase{"/a\nDELE b", true}, PathCheckCase{std::string("/a\0b", 4), true},
                      PathCheckCase{"/a\tb", true}, PathCheckCase{"/\x7F", true}, PathCheckCase{"/x/..", true}));

TEST(PathNames, RefusesEmptyNamesAndSlashes) {
    EXPECT_FALSE(path::checkName("new folder"));
    EXPECT_FALSE(path::checkName(".config"));
    for (std::string bad : {"", "a/b", "/", ".", "..", "a\rb"}) EXPECT_TRUE(path::checkName(bad)) << bad;
}

struct PathOpCase {
    std::string input, normalized, parent, last;
};

class PathOpTest : public ::testing::TestWithParam<PathOpCase> {};
TEST_P(PathOpTest, NormalizesAndSplits) {
    const auto& c = GetParam();
    EXPECT_EQ(path::normalize(c.input), c.normalized);
    EXPECT_EQ(path::parent(c.input), c.parent);
    EXPECT_EQ(path::lastComponent(c.input), c.last);
}
INSTANTIATE_TEST_SUITE_P(Paths, PathOpTest,
                         ::testing::Values(PathOpCase{"", "/", "/", ""}, PathOpCase{"/", "/", "/", ""},
                                           PathOpCase{"a", "/a", "/", "a"}, PathOpCase{"/a/", "/a", "/", "a"},
                                           PathOpCase{"//a//b c///", "/a/b c", "/a", "b c"},
                                           PathOpCase{"/a/b/c.txt", "/a/b/c.txt", "/a/b", "c.txt"}));

TEST(PathOps, JoinsAndComparesFolders) {
    EXPECT_EQ(path::join("/", "a"), "/a");
    EXPECT_EQ(path::join("/dav/", "/a/b"), "/dav/a/b");
    EXPECT_EQ(path::join("/dav", "/"), "/dav");
    EXPECT_TRUE(path::isSameOrInside("/a/b", "/a"));
    EXPECT_TRUE(path::isSameOrInside("/a", "/a/"));
    EXPECT_FALSE(path::isSameOrInside("/ab", "/a"));
    EXPECT_TRUE(path::isSameOrInside("/anything", "/"));
}

TEST(PathEncoding, EncodesEverythingButUnreservedAndSlashes) {
    EXPECT_EQ(path::encodePath("/a b/c%d;e#f?g\xC3\xA9"), "/a%20b/c%25d%3Be%23f%3Fg%C3%A9");
    EXPECT_EQ(path::encodeComponent("a/b"), "a%2Fb");
    EXPECT_EQ(path::percentDecode("/a%20b/%C3%A9%2"), "/a b/\xC3\xA9%2");
    EXPECT_EQ(path::percentDecode("%zz%41"), "%zzA");
}

struct Utf8Case {
    std::string bytes, lenient, carried;
};
class LenientUtf8Test : public ::testing::TestWithParam<Utf8Case> {};
// Display text replaces bad bytes; the carried form is valid UTF-8 and gives the same bytes back.
TEST_P(LenientUtf8Test, KeepsValidTextAndReplacesBadBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(path::decodeLenient(c.bytes), c.lenient);
    EXPECT_TRUE(path::isValidUtf8(path::decodeLenient(c.bytes)));
    EXPECT_EQ(path::isValidUtf8(c.bytes), c.bytes == c.lenient);
    EXPECT_EQ(path::fromServer(c.bytes), c.carried);
    EXPECT_TRUE(path::isValidUtf8(c.carried));
    EXPECT_EQ(path::toServer(c.carried), c.bytes);
    if (!path::isValidUtf8(c.bytes)) {
        EXPECT_EQ(path::toServer(c.bytes), c.bytes) << "raw bytes pass through";
    }
}
// U+F700 (the marker) and U+F7E9 in UTF-8.
const std::string kMark = "\xEF\x9C\x80";
const std::string kE9 = "\xEF\x9F\xA9";
INSTANTIATE_TEST_SUITE_P(
    Names, LenientUtf8Test,
    ::testing::Values(Utf8Case{"plain.txt", "plain.txt", "plain.txt"},
                      Utf8Case{"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
                      Utf8Case{"\xF0\x9F\x98\x80.png", "\xF0\x9F\x98\x80.png", "\xF0\x9F\x98\x80.png"},
                      Utf8Case{"caf\xE9.txt", "caf" + kReplacement + ".txt", "caf" + kE9 + ".txt"},
                      Utf8Case{"\xC0\xAF", kReplacement + kReplacement, "\xEF\x9F\x80\xEF\x9E\xAF"},
                      Utf8Case{"\xED\xA0\x80", kReplacement + kReplacement + kReplacement,
                               "\xEF\x9F\xAD\xEF\x9E\xA0\xEF\x9E\x80"},
                      Utf8Case{"end\xE2\x82", "end" + kReplacement + kReplacement, "end\xEF\x9F\xA2\xEF\x9E\x82"},
                      // A server's own characters of the carrier range are marked, never taken for bytes.
                      Utf8Case{"x" + kE9, "x" + kE9, "x" + kMark + kE9},
                      Utf8Case{kMark + "a", kMark + "a", kMark + kMark + "a"}));

// A rename typed over the shown name: the unchanged beginning and end keep the server's bytes.
struct RenameCase {
    std::string server;  // the name's bytes on the server
    std::string typed;   // what the user left in the field (the shown name, edited)
    std::string result;  // the bytes the server is asked for
};
void PrintTo(const RenameCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.server) << " -> " << ::testing::PrintToString(c.typed); }
class RenameKeepsBytesTest : public ::testing::TestWithParam<RenameCase> {};

TEST_P(RenameKeepsBytesTest, TheUnchangedPartsKeepTheirBytes) {
    const auto& c = GetParam();
    const std::string original = path::fromServer(c.server);
    EXPECT_EQ(path::forDisplay(original), path::decodeLenient(c.server));
    const std::string renamed = path::renamedKeepingBytes(original, c.typed);
    EXPECT_TRUE(path::isValidUtf8(renamed));
    EXPECT_EQ(path::toServer(renamed), c.result) << ::testing::PrintToString(renamed);
}
INSTANTIATE_TEST_SUITE_P(
    Names, RenameKeepsBytesTest,
    ::testing::Values(
        // The odd byte is kept where the user changed only the beginning, the end, or nothing near it.
        RenameCase{"R-bad-\xE9.txt", "S-bad-" + kReplacement + ".txt", "S-bad-\xE9.txt"},
        RenameCase{"R-bad-\xE9.txt", "R-bad-" + kReplacement + ".html", "R-bad-\xE9.html"},
        RenameCase{"caf\xE9 \xE8.txt", "caf" + kReplacement + " " + kReplacement + "2.txt", "caf\xE9 \xE8" "2.txt"},
        // Typed over: what the user typed is what the server gets.
        RenameCase{"R-bad-\xE9.txt", "R-good.txt", "R-good.txt"},
        RenameCase{"caf\xE9.txt", "caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
        // Plain UTF-8 names rename as typed.
        RenameCase{"plain.txt", "other.txt", "other.txt"},
        RenameCase{"\xC3\xA9t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9 2.txt", "\xC3\xA9t\xC3\xA9 2.txt"},
        // A server's own character of the carrier range stays itself, kept or typed.
        RenameCase{"x" + kE9, "y" + kE9, "y" + kE9}));

// ---- FTP replies to commands on a file or folder ------------------------------------------

struct ReplyCase {
    long code;
    std::string text;
    files::ErrorKind kind;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.code << " " << c.text; }
class FtpRefusalTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(FtpRefusalTest, TheServersWordsTellMissingFromRefused) {
    const auto& c = GetParam();
    EXPECT_EQ(files::kindName(files::detail::ftpRefusalKind(c.code, c.text)), files::kindName(c.kind));
}
INSTANTIATE_TEST_SUITE_P(
    Replies, FtpRefusalTest,
    ::testing::Values(
        // Not there: DELE, RMD, RNFR, SIZE of a missing item, as the servers word it.
        ReplyCase{550, "No such file or directory.", files::ErrorKind::notFound},                    // pyftpdlib
        ReplyCase{550, "/www/page.html: No such file or directory", files::ErrorKind::notFound},     // proftpd
        ReplyCase{550, "Could not delete page.html: No such file or directory", files::ErrorKind::notFound},  // pure-ftpd
        ReplyCase{550, "The system cannot find the file specified. ", files::ErrorKind::notFound},   // IIS
        ReplyCase{550, "File not found", files::ErrorKind::notFound},
        ReplyCase{550, "Directory not found.", files::ErrorKind::notFound},
        ReplyCase{550, "\"/www/old\": directory does not exist", files::ErrorKind::notFound},
        ReplyCase{550, "file doesn't exist", files::ErrorKind::notFound},
        ReplyCase{550, "Can't find the file", files::ErrorKind::notFound},
        ReplyCase{450, "No such file or directory", files::ErrorKind::notFound},
        // Refused: the item is there, or the reply does not say.
        ReplyCase{550, "Permission denied.", files::ErrorKind::permissionDenied},
        ReplyCase{550, "Delete operation failed.", files::ErrorKind::permissionDenied},            // vsftpd
        ReplyCase{550, "Remove directory operation failed.", files::ErrorKind::permissionDenied},  // vsftpd
        ReplyCase{550, "Can't check for file existence", files::ErrorKind::permissionDenied},      // pure-ftpd
        ReplyCase{550, "Not enough privileges.", files::ErrorKind::permissionDenied},
        ReplyCase{550, "Directory not empty", files::ErrorKind::permissionDenied},
        ReplyCase{553, "Prohibited file name.", files::ErrorKind::permissionDenied},
        ReplyCase{532, "Need account for storing files.", files::ErrorKind::permissionDenied},
        ReplyCase{530, "Login incorrect.", files::ErrorKind::loginRejected},
        ReplyCase{451, "Requested action aborted: local error in processing.", files::ErrorKind::server},
        ReplyCase{452, "Insufficient storage space.", files::ErrorKind::server}));

// A transfer that failed only because the server had closed its kept connection while it sat
// idle runs once more; one of which anything got through never does.
struct IdleCase {
    std::string what;
    CURLcode code;
    long responseCode;
    std::vector<std::string> replies;
    long newConnections = 0;
    long long uploaded = 0;
    std::string body;
    bool silent = false;
    bool closedWhileIdle;
};
void PrintTo(const IdleCase& c, std::ostream* os) { *os << c.what; }
class ClosedWhileIdleTest : public ::testing::TestWithParam<IdleCase> {};

TEST_P(ClosedWhileIdleTest, OnlyAKeptConnectionThatNothingGotThroughCounts) {
    const auto& c = GetParam();
    files::detail::TransferResult r;
    r.code = c.code;
    r.responseCode = c.responseCode;
    r.headers = c.replies;
    r.newConnections = c.newConnections;
    r.uploaded = c.uploaded;
    r.body = c.body;
    r.silent = c.silent;
    EXPECT_EQ(files::detail::closedWhileIdle(r), c.closedWhileIdle);
}
INSTANTIATE_TEST_SUITE_P(
    Transfers, ClosedWhileIdleTest,
    ::testing::Values(
        IdleCase{"vsftpd's timeout", CURLE_OPERATION_TIMEDOUT, 421, {"421 Timeout."}, 0, 0, "", false, true},
        IdleCase{"a closing reply of several lines", CURLE_OPERATION_TIMEDOUT, 421,
                 {"421-Idle for too long", "421 Closing control connection."}, 0, 0, "", false, true},
        IdleCase{"gone without a word", CURLE_RECV_ERROR, 0, {}, 0, 0, "", false, true},
        IdleCase{"reset while sending", CURLE_SEND_ERROR, 0, {}, 0, 0, "", false, true},
        IdleCase{"closed at once", CURLE_GOT_NOTHING, 0, {}, 0, 0, "", false, true},
        IdleCase{"a new connection turned away", CURLE_OPERATION_TIMEDOUT, 421, {"421 Too many connections."}, 1, 0, "",
                 false, false},
        IdleCase{"a new connection that broke", CURLE_RECV_ERROR, 0, {}, 1, 0, "", false, false},
        IdleCase{"closed after a command went through", CURLE_OPERATION_TIMEDOUT, 421, {"250 Ok.", "421 Timeout."}, 0, 0,
                 "", false, false},
        IdleCase{"closed during an upload", CURLE_SEND_ERROR, 0, {}, 0, 65536, "", false, false},
        IdleCase{"closed once the upload had begun", CURLE_UPLOAD_FAILED, 0, {"150 Ok to send data."}, 0, 0, "", false,
                 false},
        IdleCase{"closed during a download", CURLE_PARTIAL_FILE, 0, {}, 0, 0, "<html>", false, false},
        IdleCase{"a server that fell silent", CURLE_OPERATION_TIMEDOUT, 0, {}, 0, 0, "", true, false},
        IdleCase{"a refusal", CURLE_QUOTE_ERROR, 550, {"550 Permission denied."}, 0, 0, "", false, false},
        IdleCase{"done", CURLE_OK, 226, {"226 Transfer complete."}, 0, 0, "", false, false}));

}  // namespace
