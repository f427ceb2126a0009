// The names a save gives its temporary copies and the old file it moves aside: hidden where
// asked, the file's extension last, and an aside copy's name read back to its file's.

#include <gtest/gtest.h>

#include "platform/files/Save.h"

namespace {

using files::detail::asideName;
using files::detail::asideOriginal;
using files::detail::isAsideCopy;
using files::detail::temporaryName;

// The name with the 8 hex digits of its tag written "T".
std::string shape(std::string name) {
    for (const std::string mark : {"dravix-old-", "dravix-was-", "dravix-"}) {
        const std::size_t at = name.find(mark);
        if (at != std::string::npos) return name.replace(at + mark.size(), 8, "T");
    }
    return name;
}

TEST(SaveNames, CopiesEndInTheFilesExtensionAndAsideCopiesTellTheirFile) {
    struct Case {
        std::string name;
        bool hidden;
        std::string copy;   // temporaryName's shape
        std::string aside;  // asideName's shape
    };
    const Case cases[] = {
        {"config.php", true, ".config.dravix-T.php", ".config.dravix-old-T.php"},
        {"config.php", false, "config.dravix-T.php", "config.dravix-was-T.php"},
        {"archive.tar.gz", true, ".archive.tar.dravix-T.gz", ".archive.tar.dravix-old-T.gz"},
        {"Makefile", true, ".Makefile.dravix-T", ".Makefile.dravix-old-T"},
        {".htaccess", true, ".htaccess.dravix-T", ".htaccess.dravix-was-T"},
        {".env.local", true, ".env.dravix-T.local", ".env.dravix-was-T.local"},
        {std::string(250, 'a') + ".html", true, ".dravix-T.html", ".dravix-old-T.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40) + (c.hidden ? " hidden" : ""));
        const std::string copy = temporaryName(c.name, c.hidden), aside = asideName(c.name, c.hidden);
        EXPECT_EQ(shape(copy), c.copy);
        EXPECT_EQ(shape(aside), c.aside);
        EXPECT_LE(copy.size(), 255u);
        EXPECT_NE(temporaryName(c.name, c.hidden), copy) << "two copies of one file got one name";
        EXPECT_FALSE(isAsideCopy(copy));
        EXPECT_TRUE(isAsideCopy(aside));
        if (c.name.size() < 200) EXPECT_EQ(asideOriginal(aside), c.name);
        else EXPECT_EQ(asideOriginal(aside), std::nullopt) << "a shortened name tells no file";
    }
    EXPECT_EQ(asideOriginal("page.php"), std::nullopt);
    EXPECT_EQ(asideOriginal(".page.dravix-1a2b3c4d.php"), std::nullopt);
}

}  // namespace
