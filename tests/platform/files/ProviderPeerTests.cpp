// The FTP, WebDAV and SFTP providers against real local servers: pyftpdlib (MLSD, also as a server
// with a login folder that answers SIZE for folders), pure-ftpd, proftpd, vsftpd (LIST only),
// Apache with mod_dav, nginx with its dav and dav-ext modules, lighttpd with mod_webdav, and a
// WebDAV server as lax as some seen in the field, and nginx with only its core dav module (no
// listings), and OpenSSH's sshd (SFTP). Each test works in a folder of its own, made and checked directly on the server's
// disk.

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

#include "ProviderTestSupport.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"

using namespace filestest;
using files::ErrorKind;
using files::WriteMode;

namespace {

class ProviderPeerTest : public PeerFolderTest {
protected:
    Sync sync() { return Sync{*provider_}; }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }
    bool isWebDav() const { return provider_->kind() == files::ProviderKind::webDav; }
};

// Names that break naive URL or listing handling: spaces, quotes, "#" and "?" (URL
// delimiters), a literal "%20" (decoded twice it would turn into a space), non-ASCII.
const std::vector<std::string>& awkwardNames() {
    static const std::vector<std::string> names = {
        "two  spaces.html", "it's \"quoted\".css", "hash#1?q=2.js", "literal%20percent.txt",
        "n\xC3\xAFve \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC.php"};
    return names;
}

TEST_P(ProviderPeerTest, EditsFilesAndFoldersWithAwkwardNames) {
    for (const std::string& name : awkwardNames()) {
        SCOPED_TRACE(name);
        const std::string folderName = "in " + name;
        const std::string folder = at(folderName);
        const std::string file = folder + "/" + name;
        ASSERT_FALSE(sync().mkdir(folderName, dir_));
        ASSERT_TRUE(fs::is_directory(disk_ / folderName));

        // create, read back, replace
        const std::string first = "<first version of " + name + std::string(">\r\n\0\xFF", 5);
        ASSERT_EQ(sync().write(file, first, WriteMode::createNew), std::nullopt);
        EXPECT_EQ(readDiskFile(disk_ / folderName / name), first);
        auto [read, readError] = sync().read(file);
        ASSERT_FALSE(readError) << describe(readError);
        EXPECT_EQ(read.value_or(""), first);
        const std::string second = "second, longer version of " + name + std::string(300, '+');
        ASSERT_EQ(sync().write(file, second), std::nullopt);
        std::tie(read, readError) = sync().read(file);
        ASSERT_FALSE(readError) << describe(readError);
        EXPECT_EQ(read.value_or(""), second);

        // rename, relist
        const std::string renamed = folder + "/renamed " + name;
        ASSERT_FALSE(sync().move(file, renamed));
        auto [entries, listError] = sync().list(folder);
        ASSERT_FALSE(listError) << describe(listError);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "renamed " + name);
        EXPECT_EQ(entries[0].path, renamed);
        EXPECT_TRUE(entries[0].isRegularFile());
        EXPECT_EQ(entries[0].size, static_cast<std::int64_t>(second.size()));

        // a copy onto an existing name is refused and leaves both alone
        ASSERT_EQ(sync().write(file, std::string("other"), WriteMode::createNew), std::nullopt);
        auto copyError = sync().copy(renamed, file);
        ASSERT_TRUE(copyError);
        EXPECT_EQ(copyError->kind, ErrorKind::alreadyExists) << describe(copyError);
        EXPECT_EQ(readDiskFile(disk_ / folderName / name), "other");
        EXPECT_EQ(readDiskFile(disk_ / folderName / ("renamed " + name)), second);

        // delete a file
        ASSERT_FALSE(sync().remove(file));
        EXPECT_FALSE(fs::exists(disk_ / folderName / name));

        // a folder: rename, relist its parent, delete it with what it holds
        const std::string movedName = "moved " + name;
        ASSERT_FALSE(sync().move(folder, at(movedName)));
        std::tie(entries, listError) = sync().list(dir_);
        ASSERT_FALSE(listError) << describe(listError);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, movedName);
        EXPECT_TRUE(entries[0].isDirectory());
        EXPECT_EQ(readDiskFile(disk_ / movedName / ("renamed " + name)), second);
        ASSERT_FALSE(sync().remove(at(movedName)));
        EXPECT_FALSE(fs::exists(disk_ / movedName));
        std::tie(entries, listError) = sync().list(dir_);
        ASSERT_FALSE(listError) << describe(listError);
        EXPECT_TRUE(entries.empty());
    }
}

TEST_P(ProviderPeerTest, ListsEntriesWithTypesSizesDatesAndHiddenFlag) {
    writeDiskFile(disk_ / "two  spaces.txt", "hello");
    writeDiskFile(disk_ / ".hidden", "");
    writeDiskFile(disk_ / "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.html", "<p>");
    makeDiskFolder(disk_ / "sub dir");
    writeDiskFile(disk_ / "sub dir" / "inner.txt", "x");

    auto [entries, error] = sync().list(dir_);
    ASSERT_FALSE(error) << describe(error);
    // nginx's dav-ext module leaves names that start with "." out of its listings.
    const bool listsHidden = peer_.kind != "nginx";
    ASSERT_EQ(entries.size(), listsHidden ? 4u : 3u);

    const auto* spaced = findEntry(entries, "two  spaces.txt");
    ASSERT_TRUE(spaced);
    EXPECT_TRUE(spaced->isRegularFile());
    EXPECT_EQ(spaced->size, 5);
    EXPECT_EQ(spaced->path, at("two  spaces.txt"));
    EXPECT_FALSE(spaced->isHidden);
    ASSERT_TRUE(spaced->modificationDate);
    EXPECT_LT(std::chrono::abs(*spaced->modificationDate - std::chrono::system_clock::now()), std::chrono::hours(25));

    if (listsHidden) {
        const auto* hidden = findEntry(entries, ".hidden");
        ASSERT_TRUE(hidden);
        EXPECT_TRUE(hidden->isHidden);
        EXPECT_EQ(hidden->size, 0);
    }

    ASSERT_TRUE(findEntry(entries, "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC.html"));

    const auto* folder = findEntry(entries, "sub dir");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isDirectory());
    EXPECT_EQ(folder->path, at("sub dir"));

    auto [inner, innerError] = sync().list(at("sub dir"));
    ASSERT_FALSE(innerError) << describe(innerError);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0].name, "inner.txt");
    EXPECT_EQ(inner[0].path, at("sub dir/inner.txt"));
}

TEST_P(ProviderPeerTest, ListsTheRootAndAnEmptyFolder) {
    auto [root, rootError] = sync().list("/");
    ASSERT_FALSE(rootError) << describe(rootError);
    EXPECT_TRUE(findEntry(root, dir_.substr(1)));
    auto [empty, emptyError] = sync().list(dir_);
    ASSERT_FALSE(emptyError) << describe(emptyError);
    EXPECT_TRUE(empty.empty());
}

// A Latin-1 name lists with a readable display name, and its entry's path reaches the very same
// bytes: the file opens, is saved, renamed and deleted, and a folder of such a name is listed,
// copied and removed with what is in it.
TEST_P(ProviderPeerTest, NamesThatAreNotUtf8ListOpenSaveRenameAndDelete) {
    writeDiskFile(disk_ / "caf\xE9.txt", "latin-1 name");
    writeDiskFile(disk_ / "ok.txt", "fine");
    makeDiskFolder(disk_ / "d\xE9j\xE0");
    writeDiskFile(disk_ / "d\xE9j\xE0" / "in\xE8.txt", "inner");
    auto [entries, error] = sync().list(dir_);
    ASSERT_FALSE(error) << describe(error);
    ASSERT_EQ(entries.size(), 3u);
    const files::FileObject* file = nullptr;
    const files::FileObject* folder = nullptr;
    for (const auto& e : entries) {
        EXPECT_TRUE(files::path::isValidUtf8(e.name)) << e.name;
        EXPECT_TRUE(files::path::isValidUtf8(e.path)) << e.path;
        if (e.name.rfind("caf", 0) == 0) file = &e;
        if (e.name.rfind("d", 0) == 0) folder = &e;
    }
    ASSERT_TRUE(file && folder);
    EXPECT_EQ(file->name, "caf\xEF\xBF\xBD.txt");
    EXPECT_TRUE(folder->isDirectory());

    auto [data, readError] = sync().read(file->path);
    ASSERT_FALSE(readError) << describe(readError);
    EXPECT_EQ(data.value_or(""), "latin-1 name");
    ASSERT_EQ(sync().write(file->path, std::string("saved")), std::nullopt) << "save";
    EXPECT_EQ(readDiskFile(disk_ / "caf\xE9.txt"), "saved");

    // A rename as the explorer does it: a copy under the new name, then the old one removed.
    const std::string renamed = files::path::parent(file->path) + "/caf\xC3\xA9.txt";
    ASSERT_FALSE(sync().copy(file->path, renamed));
    ASSERT_FALSE(sync().remove(file->path));
    EXPECT_FALSE(fs::exists(disk_ / "caf\xE9.txt"));
    EXPECT_EQ(readDiskFile(disk_ / "caf\xC3\xA9.txt"), "saved");

    auto [inner, innerError] = sync().list(folder->path);
    ASSERT_FALSE(innerError) << describe(innerError);
    ASSERT_EQ(inner.size(), 1u);
    auto [innerData, innerReadError] = sync().read(inner[0].path);
    EXPECT_EQ(innerData.value_or(""), "inner") << describe(innerReadError);
    ASSERT_FALSE(sync().copy(folder->path, at("copy")));
    EXPECT_EQ(readDiskFile(disk_ / "copy" / "in\xE8.txt"), "inner");
    ASSERT_FALSE(sync().move(folder->path, at("moved")));
    ASSERT_FALSE(sync().remove(at("moved")));
    ASSERT_FALSE(sync().remove(at("copy")));
    EXPECT_FALSE(fs::exists(disk_ / "d\xE9j\xE0"));
    EXPECT_FALSE(fs::exists(disk_ / "moved"));
    EXPECT_FALSE(fs::exists(disk_ / "copy"));
}

TEST_P(ProviderPeerTest, ReadsTheExactBytes) {
    const std::string bytes("line one\r\nline two\n\0\xFF\xFE end", 26);
    writeDiskFile(disk_ / "data.bin", bytes);
    auto [data, error] = sync().read(at("data.bin"));
    ASSERT_FALSE(error) << describe(error);
    ASSERT_TRUE(data);
    EXPECT_EQ(*data, bytes);
}

TEST_P(ProviderPeerTest, ReplaceRoundTripWithSpacesAndNonAsciiInNames) {
    makeDiskFolder(disk_ / "f\xC3\xB6lder  x");
    const std::string name = "f\xC3\xB6lder  x/r\xC3\xA9sum\xC3\xA9 %20 #1.php";
    const fs::path onDisk = disk_ / "f\xC3\xB6lder  x" / "r\xC3\xA9sum\xC3\xA9 %20 #1.php";

    ASSERT_EQ(sync().write(at(name), std::string("<?php echo 1;")), std::nullopt);
    EXPECT_EQ(readDiskFile(onDisk), "<?php echo 1;");
    ASSERT_EQ(sync().write(at(name), std::string("<?php echo 'a longer second version';")), std::nullopt);
    EXPECT_EQ(readDiskFile(onDisk), "<?php echo 'a longer second version';");
    ASSERT_EQ(sync().write(at(name), std::string("x")), std::nullopt);
    EXPECT_EQ(readDiskFile(onDisk), "x");

    auto [data, error] = sync().read(at(name));
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(data.value_or(""), "x");
}

TEST_P(ProviderPeerTest, CreateNewOnAnExistingNameIsRefusedAndTheBytesStay) {
    writeDiskFile(disk_ / "keep.txt", "original");
    makeDiskFolder(disk_ / "folder");
    auto error = sync().write(at("keep.txt"), std::string("changed"), WriteMode::createNew);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    EXPECT_EQ(readDiskFile(disk_ / "keep.txt"), "original");

    error = sync().write(at("folder"), std::string("changed"), WriteMode::createNew);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    EXPECT_TRUE(fs::is_directory(disk_ / "folder"));
}

TEST_P(ProviderPeerTest, CreateNewWithoutDataGivesAnEmptyFile) {
    ASSERT_EQ(sync().write(at("new.css"), std::nullopt, WriteMode::createNew), std::nullopt);
    ASSERT_TRUE(fs::is_regular_file(disk_ / "new.css"));
    EXPECT_EQ(fs::file_size(disk_ / "new.css"), 0u);
    ASSERT_EQ(sync().write(at("dropped.js"), std::string("let a = 1;"), WriteMode::createNew), std::nullopt);
    EXPECT_EQ(readDiskFile(disk_ / "dropped.js"), "let a = 1;");
}

TEST_P(ProviderPeerTest, WritingIntoAMissingFolderReportsIt) {
    for (WriteMode mode : {WriteMode::replace, WriteMode::createNew}) {
        auto error = sync().write(at("missing/file.txt"), std::string("x"), mode);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::parentMissing) << describe(error);
    }
    EXPECT_FALSE(fs::exists(disk_ / "missing"));
}

TEST_P(ProviderPeerTest, CreatesFoldersButNotOverExistingOnes) {
    ASSERT_FALSE(sync().mkdir("new folder \xC3\xBC", dir_));
    EXPECT_TRUE(fs::is_directory(disk_ / "new folder \xC3\xBC"));

    auto error = sync().mkdir("new folder \xC3\xBC", dir_);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);

    writeDiskFile(disk_ / "taken.txt", "x");
    error = sync().mkdir("taken.txt", dir_);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);

    error = sync().mkdir("child", at("no such parent"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::parentMissing) << describe(error);
}

TEST_P(ProviderPeerTest, MovingOntoAnExistingNameIsRefused) {
    writeDiskFile(disk_ / "a.txt", "A");
    writeDiskFile(disk_ / "b.txt", "B");
    makeDiskFolder(disk_ / "folder");
    auto error = sync().move(at("a.txt"), at("b.txt"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    error = sync().move(at("a.txt"), at("folder"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    EXPECT_EQ(readDiskFile(disk_ / "a.txt"), "A");
    EXPECT_EQ(readDiskFile(disk_ / "b.txt"), "B");
    EXPECT_TRUE(fs::is_empty(disk_ / "folder"));
}

TEST_P(ProviderPeerTest, RenamesFilesAndFoldersByMove) {
    writeDiskFile(disk_ / "old name.txt", "content");
    ASSERT_FALSE(sync().move(at("old name.txt"), at("n\xC3\xA9w name.txt")));
    EXPECT_FALSE(fs::exists(disk_ / "old name.txt"));
    EXPECT_EQ(readDiskFile(disk_ / "n\xC3\xA9w name.txt"), "content");

    makeDiskFolder(disk_ / "old" / "inner");
    writeDiskFile(disk_ / "old" / "inner" / "page.html", "<html>");
    ASSERT_FALSE(sync().move(at("old"), at("renamed folder")));
    EXPECT_FALSE(fs::exists(disk_ / "old"));
    EXPECT_EQ(readDiskFile(disk_ / "renamed folder" / "inner" / "page.html"), "<html>");

    auto error = sync().move(at("gone.txt"), at("other.txt"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notFound) << describe(error);
    error = sync().move(at("renamed folder"), at("renamed folder/inner/deeper"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::invalidPath) << describe(error);
}

TEST_P(ProviderPeerTest, CopiesFilesAndFoldersWithoutOverwriting) {
    writeDiskFile(disk_ / "a.txt", "A");
    makeDiskFolder(disk_ / "tree" / "sub");
    writeDiskFile(disk_ / "tree" / "sub" / "x.css", "body{}");
    writeDiskFile(disk_ / "tree" / ".htaccess", "deny");

    ASSERT_FALSE(sync().copy(at("a.txt"), at("copy of a.txt")));
    EXPECT_EQ(readDiskFile(disk_ / "copy of a.txt"), "A");
    EXPECT_EQ(readDiskFile(disk_ / "a.txt"), "A");

    ASSERT_FALSE(sync().copy(at("tree"), at("tree copy")));
    EXPECT_EQ(readDiskFile(disk_ / "tree copy" / "sub" / "x.css"), "body{}");
    EXPECT_EQ(readDiskFile(disk_ / "tree copy" / ".htaccess"), "deny");

    writeDiskFile(disk_ / "b.txt", "B");
    auto error = sync().copy(at("a.txt"), at("b.txt"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    EXPECT_EQ(readDiskFile(disk_ / "b.txt"), "B");
}

TEST_P(ProviderPeerTest, RemovesFilesAndNonEmptyFolders) {
    writeDiskFile(disk_ / "file.txt", "x");
    makeDiskFolder(disk_ / "tree" / "a" / "b");
    writeDiskFile(disk_ / "tree" / "top.txt", "1");
    writeDiskFile(disk_ / "tree" / ".hidden", "2");
    writeDiskFile(disk_ / "tree" / "a" / "mid.txt", "3");
    writeDiskFile(disk_ / "tree" / "a" / "b" / "deep file.txt", "4");
    makeDiskFolder(disk_ / "tree" / "empty");

    ASSERT_FALSE(sync().remove(at("file.txt")));
    EXPECT_FALSE(fs::exists(disk_ / "file.txt"));
    ASSERT_FALSE(sync().remove(at("tree")));
    EXPECT_FALSE(fs::exists(disk_ / "tree"));

    auto error = sync().remove(at("tree"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notFound) << describe(error);
}

TEST_P(ProviderPeerTest, EveryChangeWorksOnNamesWithSpacesQuotesHashesEscapesAndNonAscii) {
    const std::string folder = "d\xC3\xBC \"q\" it's #1 %20";
    const std::string file = "f\xC3\xA9 \"quoted\" it's #2 %20.html";
    const std::string other = "other #3 %2F.txt";
    const std::string renamed = "r\xC3\xA9named \"x\" #4 %20.html";
    const std::string in = at(folder + "/" + file);

    ASSERT_FALSE(sync().mkdir(folder, dir_));
    ASSERT_TRUE(fs::is_directory(disk_ / folder));
    ASSERT_EQ(sync().write(in, std::string("<p>one</p>"), WriteMode::createNew), std::nullopt);
    EXPECT_EQ(readDiskFile(disk_ / folder / file), "<p>one</p>");
    auto [first, firstError] = sync().read(in);
    ASSERT_FALSE(firstError) << describe(firstError);
    EXPECT_EQ(first.value_or(""), "<p>one</p>");

    ASSERT_EQ(sync().write(in, std::string("<p>the second, longer</p>")), std::nullopt);
    auto [second, secondError] = sync().read(in);
    ASSERT_FALSE(secondError) << describe(secondError);
    EXPECT_EQ(second.value_or(""), "<p>the second, longer</p>");

    ASSERT_EQ(sync().write(at(folder + "/" + other), std::string("other"), WriteMode::createNew), std::nullopt);
    auto error = sync().copy(in, at(folder + "/" + other));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    EXPECT_EQ(readDiskFile(disk_ / folder / other), "other");

    ASSERT_FALSE(sync().move(in, at(folder + "/" + renamed)));
    auto [entries, listError] = sync().list(at(folder));
    ASSERT_FALSE(listError) << describe(listError);
    ASSERT_EQ(entries.size(), 2u);
    const auto* moved = findEntry(entries, renamed);
    ASSERT_TRUE(moved);
    EXPECT_TRUE(moved->isRegularFile());
    EXPECT_EQ(moved->path, at(folder + "/" + renamed));
    EXPECT_EQ(moved->size, 25);
    EXPECT_TRUE(findEntry(entries, other));
    EXPECT_EQ(readDiskFile(disk_ / folder / renamed), "<p>the second, longer</p>");

    ASSERT_FALSE(sync().remove(at(folder + "/" + other)));
    EXPECT_FALSE(fs::exists(disk_ / folder / other));
    ASSERT_FALSE(sync().remove(at(folder)));
    EXPECT_FALSE(fs::exists(disk_ / folder));
    auto [after, afterError] = sync().list(dir_);
    ASSERT_FALSE(afterError) << describe(afterError);
    EXPECT_TRUE(after.empty());
}

TEST_P(ProviderPeerTest, RefusalsByTheServerSayPermissionDeniedWithTheServersWords) {
    // vsftpd and the web servers serve as unprivileged users: a folder only root may change is
    // locked for them. pyftpdlib and the lax WebDAV server run as the test's user, so their own
    // read-only mark locks the folder for them.
    const bool ownLock = peer_.kind.rfind("pyftpd", 0) == 0 || peer_.kind == "davlax";
    if (!ownLock && ::geteuid() != 0) GTEST_SKIP() << "the servers run as the test's user: nothing can be locked";
    makeDiskFolder(disk_ / "locked");
    writeDiskFile(disk_ / "locked" / "page.html", "keep");
    if (ownLock) writeDiskFile(disk_ / "locked" / ".dravix-read-only", "");
    ::chmod((disk_ / "locked").c_str(), 0755);
    ::chmod((disk_ / "locked" / "page.html").c_str(), 0644);

    // FTP servers answer 550; Apache's mod_dav says 403 for some refusals and 500 for others.
    auto refused = [&](const std::optional<files::FileError>& error) {
        if (!error) return false;
        if (error->kind == ErrorKind::permissionDenied) return true;
        return isWebDav() && error->kind == ErrorKind::server && error->serverCode == 500;
    };
    auto error = sync().remove(at("locked/page.html"));
    EXPECT_TRUE(refused(error)) << describe(error);
    ASSERT_TRUE(error);
    EXPECT_NE(error->serverCode, 0);
    EXPECT_FALSE(error->serverText.empty());
    EXPECT_NE(error->message.find(error->serverText), std::string::npos) << error->message;
    error = sync().write(at("locked/page.html"), std::string("changed"));
    EXPECT_TRUE(refused(error)) << describe(error);
    error = sync().mkdir("sub", at("locked"));
    EXPECT_TRUE(refused(error)) << describe(error);
    EXPECT_EQ(readDiskFile(disk_ / "locked" / "page.html"), "keep");
}

TEST_P(ProviderPeerTest, RemovingAFolderLeavesWhatItsLinksPointToAlone) {
    // nginx's DELETE follows a link to a folder and empties that folder (its PROPFIND shows such
    // a link as a folder like any other, so no WebDAV client can tell it or keep nginx from it):
    // there the folder holds a link to a file only, which nginx removes as a link.
    const bool folderLink = peer_.kind != "nginx";
    makeDiskFolder(disk_ / "outside");
    writeDiskFile(disk_ / "outside" / "precious.html", "keep me");
    makeDiskFolder(disk_ / "tree");
    writeDiskFile(disk_ / "tree" / "own.txt", "x");
    if (folderLink) fs::create_directory_symlink("../outside", disk_ / "tree" / "link to outside");
    fs::create_symlink("../outside/precious.html", disk_ / "tree" / "link to file");

    auto error = sync().remove(at("tree"));
    if (isWebDav() && error) {
        // Apache refuses to remove a collection holding links it may not follow, and says so
        // in a multi-status answer: a partial failure reported, not a success.
        EXPECT_EQ(error->kind, ErrorKind::permissionDenied) << describe(error);
        EXPECT_NE(error->message.find("/tree"), std::string::npos) << error->message;
    } else {
        ASSERT_FALSE(error) << describe(error);
        EXPECT_FALSE(fs::exists(fs::symlink_status(disk_ / "tree")));
    }
    EXPECT_EQ(readDiskFile(disk_ / "outside" / "precious.html"), "keep me");
}

TEST_P(ProviderPeerTest, MissingFilesAndFoldersAreNotFound) {
    auto [data, readError] = sync().read(at("nothing.txt"));
    ASSERT_TRUE(readError);
    EXPECT_EQ(readError->kind, ErrorKind::notFound) << describe(readError);
    EXPECT_FALSE(data);
    auto [entries, listError] = sync().list(at("no folder"));
    ASSERT_TRUE(listError);
    EXPECT_EQ(listError->kind, ErrorKind::notFound) << describe(listError);

    // Some servers answer these with 403 or 500.
    writeDiskFile(disk_ / "here.txt", "x");
    for (auto error : {sync().move(at("nothing.txt"), at("here2.txt")), sync().copy(at("nothing.txt"), at("here2.txt")),
                       sync().remove(at("nothing.txt")), sync().move(at("no folder"), at("other folder"))}) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::notFound) << describe(error);
    }
    EXPECT_EQ(readDiskFile(disk_ / "here.txt"), "x");
    EXPECT_FALSE(fs::exists(disk_ / "here2.txt"));
}

TEST_P(ProviderPeerTest, RightPasswordPassesTheLoginCheck) { EXPECT_FALSE(sync().login()); }

TEST_P(ProviderPeerTest, WrongPasswordGivesExactlyOneLoginError) {
    files::ProviderOptions options;
    options.trust = peerTrust(peer_);
    auto wrong = files::makeProvider(peer_.url, {peer_.user, peer_.password + "x"}, options);
    ASSERT_TRUE(wrong);

    DoneCapture check;
    wrong->checkLogin(check.callback());
    awaitOnce(check);
    ListCapture list;
    wrong->contentsOfDirectory(dir_, list.callback());
    awaitOnce(list);
    wrong.reset();  // its workers are joined: no completion can come after this

    EXPECT_EQ(check.calls(), 1);
    ASSERT_TRUE(check.get<0>());
    EXPECT_EQ(check.get<0>()->kind, ErrorKind::loginRejected) << describe(check.get<0>());
    EXPECT_EQ(list.calls(), 1);
    ASSERT_TRUE(list.get<1>());
    EXPECT_EQ(list.get<1>()->kind, ErrorKind::loginRejected) << describe(list.get<1>());
    EXPECT_TRUE(list.get<0>().empty());
}

TEST_P(ProviderPeerTest, RefusesControlCharactersAndDotSegmentsWithoutTouchingTheServer) {
    writeDiskFile(disk_ / "victim.txt", "safe");
    const std::vector<std::string> bad = {at("evil\r\nDELE victim.txt"), at("a\nb.txt"), at(std::string("nul\0x", 5)),
                                          at("../escape.txt"), dir_ + "/./x.txt", "/../x"};
    for (const auto& p : bad) {
        auto error = sync().write(p, std::string("x"));
        ASSERT_TRUE(error) << p;
        EXPECT_EQ(error->kind, ErrorKind::invalidPath) << describe(error);
        auto removeError = sync().remove(p);
        ASSERT_TRUE(removeError);
        EXPECT_EQ(removeError->kind, ErrorKind::invalidPath);
    }
    auto error = sync().mkdir("..", dir_);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::invalidPath);
    error = sync().mkdir("x\r\nRMD /", dir_);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::invalidPath);
    EXPECT_EQ(readDiskFile(disk_ / "victim.txt"), "safe");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk_), fs::directory_iterator()), 1);
}

TEST_P(ProviderPeerTest, CancellingAReadGivesCancelledOnce) {
    // A large sparse file: its transfer cannot be over before the cancel arrives.
    const fs::path big = disk_ / "big.bin";
    {
        int fd = ::open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0666);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 2LL << 30), 0);
        ::close(fd);
        ::chmod(big.c_str(), 0666);
    }
    DataCapture read;
    auto op = provider_->contents(at("big.bin"), read.callback());
    std::this_thread::sleep_for(100ms);
    const auto cancelledAt = std::chrono::steady_clock::now();
    op->cancel();
    EXPECT_TRUE(op->isCancelled());
    awaitOnce(read, 10s);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 2s);
    EXPECT_TRUE(op->isFinished());
    ASSERT_TRUE(read.get<1>());
    EXPECT_EQ(read.get<1>()->kind, ErrorKind::cancelled) << describe(read.get<1>());
    EXPECT_FALSE(read.get<0>());

    // The provider keeps working after a cancelled transfer.
    EXPECT_FALSE(sync().list(dir_).second);
    provider_.reset();  // its workers are joined: no completion can come after this
    EXPECT_EQ(read.calls(), 1);
}

TEST_P(ProviderPeerTest, ReadsSeveralFilesInOneCall) { readsSeveralFilesInOneCall(provider_, disk_, dir_); }

// Several folders listed in one call: each path answered once, with what listing it alone gives
// (more folders than one flight holds, one with more entries than one answer, an empty one, a
// missing one, a file, a refused path, one path twice).
TEST_P(ProviderPeerTest, ListsSeveralFoldersInOneCall) {
    std::vector<std::string> paths;
    for (int i = 0; i < 70; ++i) {
        const std::string name = "f" + std::to_string(i);
        makeDiskFolder(disk_ / name);
        for (int k = 0; k < i % 3; ++k) writeDiskFile(disk_ / name / ("p" + std::to_string(k) + ".html"), "x");
        paths.push_back(at(name));
    }
    makeDiskFolder(disk_ / "many");
    for (int k = 0; k < 250; ++k) writeDiskFile(disk_ / "many" / ("entry-" + std::to_string(k) + ".css"), "y");
    makeDiskFolder(disk_ / "many" / "inner");
    writeDiskFile(disk_ / "file.txt", "z");
    for (const std::string name : {"many", "missing", "file.txt", "../escape", "f1"}) paths.push_back(at(name));

    struct Got {
        int calls = 0;
        std::vector<files::FileObject> entries;
        std::optional<files::FileError> error;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Got> got;
    int calls = 0;
    auto op = provider_->contentsOfDirectories(
        paths, [&](std::string path, std::vector<files::FileObject> entries, std::optional<files::FileError> error) {
            std::lock_guard lock(mutex);
            Got& g = got[path];
            ++g.calls;
            g.entries = std::move(entries);
            g.error = std::move(error);
            ++calls;
            changed.notify_all();
        });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 60s, [&] { return calls >= static_cast<int>(paths.size()); }))
            << calls << " of " << paths.size() << " folders answered";
    }
    // Finished right after the last folder was handed over.
    for (int i = 0; i < 10000 && !op->isFinished(); ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(op->isFinished());
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, static_cast<int>(paths.size()));
    auto names = [](const std::vector<files::FileObject>& entries) {
        std::map<std::string, std::pair<files::FileType, std::int64_t>> out;
        for (const auto& e : entries) out[e.path] = {e.type, e.size};
        return out;
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const Got& g = got[path];
        EXPECT_EQ(g.calls, path == at("f1") ? 2 : 1);
        if (path == at("../escape")) {
            ASSERT_TRUE(g.error);
            EXPECT_EQ(g.error->kind, ErrorKind::invalidPath);
            continue;
        }
        auto [entries, error] = sync().list(path);
        if (error) {
            ASSERT_TRUE(g.error) << "listed alone: " << describe(error);
            EXPECT_EQ(g.error->kind, error->kind) << describe(g.error);
            continue;
        }
        ASSERT_FALSE(g.error) << describe(g.error);
        EXPECT_EQ(names(g.entries), names(entries));
    }
    EXPECT_EQ(got[at("many")].entries.size(), 251u);
    EXPECT_TRUE(got[at("missing")].error);
}

TEST_P(ProviderPeerTest, ConnectionsAreReusedAcrossManyOperations) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(sync().write(at("f" + std::to_string(i) + ".txt"), std::to_string(i), WriteMode::createNew), std::nullopt);
    }
    auto [entries, error] = sync().list(dir_);
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(entries.size(), 20u);
}

TEST(WebDavDigest, WorksBehindDigestAuthenticationAndRejectsAWrongPasswordOnce) {
    Peer peer = loadPeer("apache");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const std::string url = peer.values["DIGEST_URL"];
    ASSERT_FALSE(url.empty());
    const fs::path disk = peer.root / "t_digest";
    fs::remove_all(disk);
    makeDiskFolder(disk);

    auto provider = files::makeProvider(url, {peer.user, peer.password});
    Sync sync{*provider};
    EXPECT_FALSE(sync.login());
    // A body large enough to matter if it had to be sent again during the handshake.
    std::string big(200000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + i % 26);
    ASSERT_FALSE(sync.write("/t_digest/page.html", big, WriteMode::createNew));
    EXPECT_EQ(readDiskFile(disk / "page.html"), big);
    ASSERT_FALSE(sync.write("/t_digest/page.html", std::string("short")));
    EXPECT_EQ(readDiskFile(disk / "page.html"), "short");
    auto [entries, error] = sync.list("/t_digest");
    ASSERT_FALSE(error) << describe(error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, "/t_digest/page.html");

    auto wrong = files::makeProvider(url, {peer.user, "not the password"});
    DoneCapture check;
    wrong->checkLogin(check.callback());
    awaitOnce(check);
    wrong.reset();  // its workers are joined: no completion can come after this
    EXPECT_EQ(check.calls(), 1);
    ASSERT_TRUE(check.get<0>());
    EXPECT_EQ(check.get<0>()->kind, ErrorKind::loginRejected);
    fs::remove_all(disk);
}

TEST(WebDavWithoutListings, SaysTheServerAtThatAddressOffersNoFolderListings) {
    Peer peer = loadPeer("nginx-core");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    auto provider = files::makeProvider(peer.url + "/site", {peer.user, peer.password});
    Sync sync{*provider};
    const std::string expected = "The server at " + peer.url +
                                 "/site/ does not offer WebDAV folder listings (PROPFIND), so the app cannot browse it.";
    auto login = sync.login();
    ASSERT_TRUE(login);
    EXPECT_EQ(login->message, expected);
    EXPECT_EQ(login->serverCode, 405);
    auto [entries, error] = sync.list("/");
    ASSERT_TRUE(error);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(error->message, expected);
    EXPECT_EQ(error->message.find(peer.password), std::string::npos);
    // Writing still asks what is there first, and gets the same answer.
    auto write = sync.write("/page.html", std::string("x"), WriteMode::createNew);
    ASSERT_TRUE(write);
    EXPECT_EQ(write->message, expected);
}

// pyftpdx, pureftpd and proftpd start their users in a login folder below the server's root.
INSTANTIATE_TEST_SUITE_P(Servers, ProviderPeerTest,
                         ::testing::Values("pyftpd", "pyftpdx", "pureftpd", "proftpd", "vsftpd", "apache", "nginx",
                                           "lighttpd", "davlax", "sshd"),
                         [](const auto& info) { return info.param; });

// What only WebDAV servers do differently.
class WebDavPeerTest : public ProviderPeerTest {};

TEST_P(WebDavPeerTest, NamesWithHashAndQuestionMarkListWhole) {
    const std::string folderName = "hash#1?x";
    makeDiskFolder(disk_ / folderName / "sub#dir?");
    for (const char* name : {"a#b.txt", "c?d.txt", "#e?f#g h.txt", "?"}) writeDiskFile(disk_ / folderName / name, name);

    auto [entries, error] = sync().list(at(folderName));
    ASSERT_FALSE(error) << describe(error);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"#e?f#g h.txt", "?", "a#b.txt", "c?d.txt", "sub#dir?"}));
    const auto* sub = findEntry(entries, "sub#dir?");
    ASSERT_TRUE(sub);
    EXPECT_TRUE(sub->isDirectory());
    EXPECT_EQ(sub->path, at(folderName + "/sub#dir?"));
    auto [data, readError] = sync().read(at(folderName + "/#e?f#g h.txt"));
    ASSERT_FALSE(readError) << describe(readError);
    EXPECT_EQ(data.value_or(""), "#e?f#g h.txt");

    // The listed folder is never its own child, and lists once in its parent.
    std::tie(entries, error) = sync().list(dir_);
    ASSERT_FALSE(error) << describe(error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, folderName);
    std::tie(entries, error) = sync().list(at(folderName + "/sub#dir?"));
    ASSERT_FALSE(error) << describe(error);
    EXPECT_TRUE(entries.empty());
}

TEST_P(WebDavPeerTest, AFolderHasNoFileSize) {
    makeDiskFolder(disk_ / "folder");
    for (int i = 0; i < 40; ++i) writeDiskFile(disk_ / "folder" / ("file " + std::to_string(i)), "x");
    writeDiskFile(disk_ / "page.html", "12345");
    auto [entries, error] = sync().list(dir_);
    ASSERT_FALSE(error) << describe(error);
    const auto* folder = findEntry(entries, "folder");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isDirectory());
    EXPECT_EQ(folder->size, -1) << "a folder's length on the server is not a file size";
    const auto* page = findEntry(entries, "page.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->size, 5);
}

TEST_P(WebDavPeerTest, CopyAndMoveNeverReplaceAFolder) {
    makeDiskFolder(disk_ / "source" / "inner");
    writeDiskFile(disk_ / "source" / "inner" / "new.css", "new");
    makeDiskFolder(disk_ / "target");
    writeDiskFile(disk_ / "target" / "old.css", "old");
    writeDiskFile(disk_ / "file.txt", "file");
    for (auto error : {sync().copy(at("source"), at("target")), sync().move(at("source"), at("target")),
                       sync().move(at("file.txt"), at("target")), sync().copy(at("target"), at("file.txt"))}) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    }
    EXPECT_EQ(readDiskFile(disk_ / "target" / "old.css"), "old");
    EXPECT_FALSE(fs::exists(disk_ / "target" / "inner"));
    EXPECT_EQ(readDiskFile(disk_ / "source" / "inner" / "new.css"), "new");
    EXPECT_EQ(readDiskFile(disk_ / "file.txt"), "file");
}

TEST_P(WebDavPeerTest, WritingUnderAFileSaysTheFolderIsMissing) {
    writeDiskFile(disk_ / "plain.txt", "x");
    for (WriteMode mode : {WriteMode::replace, WriteMode::createNew}) {
        auto error = sync().write(at("plain.txt/inner.txt"), std::string("y"), mode);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::parentMissing) << describe(error);
    }
    auto error = sync().mkdir("inner", at("plain.txt"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::parentMissing) << describe(error);
    EXPECT_EQ(readDiskFile(disk_ / "plain.txt"), "x");
}

INSTANTIATE_TEST_SUITE_P(Servers, WebDavPeerTest, ::testing::Values("apache", "nginx", "lighttpd", "davlax"),
                         [](const auto& info) { return info.param; });

// A PUT goes to the file itself: a save the server cuts once bytes moved says the file is now
// incomplete; a write the server refuses with an answer does not.
class LaxWebDavPeerTest : public ProviderPeerTest {};

TEST_P(LaxWebDavPeerTest, ACutSaveSaysTheFileIsIncomplete) {
    const std::string old(300000, 'o');
    writeDiskFile(disk_ / "site.html", old);
    writeDiskFile(disk_ / ".dravix-cut-uploads", "16");
    std::string text(900000, 'n');
    for (std::size_t i = 0; i < text.size(); i += 1000) text[i] = static_cast<char>('a' + i / 1000 % 26);
    auto error = sync().write(at("site.html"), text);
    ASSERT_TRUE(error) << "the server cut the upload";
    EXPECT_TRUE(error->targetIncomplete) << describe(error);
    EXPECT_FALSE(error->targetUnchanged);
    EXPECT_EQ(readDiskFile(disk_ / "site.html"), text.substr(0, 16 * 1024));

    fs::remove(disk_ / ".dravix-cut-uploads");
    makeDiskFolder(disk_ / "folder.html");
    error = sync().write(at("folder.html"), std::string("text"));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->targetIncomplete) << describe(error);
}

INSTANTIATE_TEST_SUITE_P(Servers, LaxWebDavPeerTest, ::testing::Values("davlax"),
                         [](const auto& info) { return info.param; });

}  // namespace
