#include "tellium/storage/TLMWalBatchingVfs.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tlmstorage {
namespace {

// SQLite's unix layer writes at most this many bytes in one call.
constexpr int kMaxWrite = 0x1ffff;
// A frame header: page number, then the database size in pages after a commit (0 in other frames).
constexpr int kFrameHeaderSize = 24;

sqlite3_vfs* base = nullptr;
sqlite3_vfs layer;
sqlite3_io_methods passThrough;    // files whose layer has shared memory (version 3)
sqlite3_io_methods passThroughV1;  // files whose layer has none
sqlite3_io_methods walMethods;

// Our file, followed in the same allocation by the underlying layer's own.
struct File {
    sqlite3_file file;
    sqlite3_file* real;
    char* gathered;               // frames not written yet (write-ahead log only)
    sqlite3_int64 gatheredAt;     // the file offset of gathered[0]
    int gatheredBytes;
    bool commitFrameNext;         // the last write was the header of a commit's last frame
};

File* of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
const sqlite3_io_methods& realMethods(File* f) { return *f->real->pMethods; }

int writeOut(File* f) {
    if (f->gatheredBytes == 0) return SQLITE_OK;
    const int bytes = f->gatheredBytes;
    f->gatheredBytes = 0;
    return realMethods(f).xWrite(f->real, f->gathered, bytes, f->gatheredAt);
}

uint32_t bigEndian32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// ---- every file ----

int xClose(sqlite3_file* file) {
    File* f = of(file);
    const int written = f->gathered ? writeOut(f) : SQLITE_OK;
    const int closed = realMethods(f).xClose(f->real);
    std::free(f->gathered);
    f->gathered = nullptr;
    return written != SQLITE_OK ? written : closed;
}
int xRead(sqlite3_file* file, void* out, int bytes, sqlite3_int64 offset) {
    File* f = of(file);
    if (int rc = writeOut(f); rc != SQLITE_OK) return rc;
    return realMethods(f).xRead(f->real, out, bytes, offset);
}
int xWritePassThrough(sqlite3_file* file, const void* data, int bytes, sqlite3_int64 offset) {
    File* f = of(file);
    return realMethods(f).xWrite(f->real, data, bytes, offset);
}
int xTruncate(sqlite3_file* file, sqlite3_int64 size) {
    File* f = of(file);
    if (int rc = writeOut(f); rc != SQLITE_OK) return rc;
    return realMethods(f).xTruncate(f->real, size);
}
int xSync(sqlite3_file* file, int flags) {
    File* f = of(file);
    if (int rc = writeOut(f); rc != SQLITE_OK) return rc;
    return realMethods(f).xSync(f->real, flags);
}
int xFileSize(sqlite3_file* file, sqlite3_int64* size) {
    File* f = of(file);
    if (int rc = writeOut(f); rc != SQLITE_OK) return rc;
    return realMethods(f).xFileSize(f->real, size);
}
int xLock(sqlite3_file* file, int lock) { return realMethods(of(file)).xLock(of(file)->real, lock); }
int xUnlock(sqlite3_file* file, int lock) { return realMethods(of(file)).xUnlock(of(file)->real, lock); }
int xCheckReservedLock(sqlite3_file* file, int* out) {
    return realMethods(of(file)).xCheckReservedLock(of(file)->real, out);
}
int xFileControl(sqlite3_file* file, int op, void* arg) { return realMethods(of(file)).xFileControl(of(file)->real, op, arg); }
int xSectorSize(sqlite3_file* file) { return realMethods(of(file)).xSectorSize(of(file)->real); }
int xDeviceCharacteristics(sqlite3_file* file) { return realMethods(of(file)).xDeviceCharacteristics(of(file)->real); }
int xShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return realMethods(of(file)).xShmMap(of(file)->real, region, size, extend, out);
}
int xShmLock(sqlite3_file* file, int offset, int n, int flags) {
    return realMethods(of(file)).xShmLock(of(file)->real, offset, n, flags);
}
void xShmBarrier(sqlite3_file* file) { realMethods(of(file)).xShmBarrier(of(file)->real); }
int xShmUnmap(sqlite3_file* file, int deleteFlag) { return realMethods(of(file)).xShmUnmap(of(file)->real, deleteFlag); }
int xFetch(sqlite3_file* file, sqlite3_int64 offset, int bytes, void** out) {
    return realMethods(of(file)).xFetch(of(file)->real, offset, bytes, out);
}
int xUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return realMethods(of(file)).xUnfetch(of(file)->real, offset, page);
}

// ---- the write-ahead log ----

int xWriteWal(sqlite3_file* file, const void* data, int bytes, sqlite3_int64 offset) {
    File* f = of(file);
    // Only a run of consecutive writes is gathered; anything else (SQLite rewriting an earlier
    // frame of the same transaction) first writes out what came before it, so order is kept.
    if (f->gatheredBytes > 0 && offset != f->gatheredAt + f->gatheredBytes) {
        if (int rc = writeOut(f); rc != SQLITE_OK) return rc;
    }
    if (f->gatheredBytes + bytes > kMaxWrite) {
        if (int rc = writeOut(f); rc != SQLITE_OK) return rc;
    }
    const bool endsCommit = f->commitFrameNext;
    f->commitFrameNext = bytes == kFrameHeaderSize && bigEndian32(static_cast<const unsigned char*>(data) + 4) != 0;
    if (bytes > kMaxWrite) return realMethods(f).xWrite(f->real, data, bytes, offset);
    if (f->gatheredBytes == 0) f->gatheredAt = offset;
    std::memcpy(f->gathered + f->gatheredBytes, data, static_cast<std::size_t>(bytes));
    f->gatheredBytes += bytes;
    // The page after a commit's frame header completes the commit: out it goes, before SQLite
    // tells other connections the commit is there.
    return endsCommit ? writeOut(f) : SQLITE_OK;
}

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    File* f = of(file);
    f->real = reinterpret_cast<sqlite3_file*>(f + 1);
    f->gathered = nullptr;
    f->gatheredAt = 0;
    f->gatheredBytes = 0;
    f->commitFrameNext = false;
    file->pMethods = nullptr;
    const int rc = base->xOpen(base, name, f->real, flags, outFlags);
    if (!f->real->pMethods) return rc;  // nothing to close
    if (rc == SQLITE_OK && (flags & SQLITE_OPEN_WAL)) f->gathered = static_cast<char*>(std::malloc(kMaxWrite));
    file->pMethods = f->gathered ? &walMethods : f->real->pMethods->iVersion >= 3 ? &passThrough : &passThroughV1;
    return rc;
}

// The layer's other calls are the underlying layer's, handed the underlying layer.
int xDelete(sqlite3_vfs*, const char* name, int syncDir) { return base->xDelete(base, name, syncDir); }
int xAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return base->xAccess(base, name, flags, out); }
int xFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return base->xFullPathname(base, name, size, out);
}
void* xDlOpen(sqlite3_vfs*, const char* name) { return base->xDlOpen(base, name); }
void xDlError(sqlite3_vfs*, int size, char* out) { base->xDlError(base, size, out); }
void (*xDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return base->xDlSym(base, handle, symbol); }
void xDlClose(sqlite3_vfs*, void* handle) { base->xDlClose(base, handle); }
int xRandomness(sqlite3_vfs*, int size, char* out) { return base->xRandomness(base, size, out); }
int xSleep(sqlite3_vfs*, int micros) { return base->xSleep(base, micros); }
int xCurrentTime(sqlite3_vfs*, double* out) { return base->xCurrentTime(base, out); }
int xGetLastError(sqlite3_vfs*, int size, char* out) { return base->xGetLastError(base, size, out); }
int xCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return base->xCurrentTimeInt64(base, out); }

const char* registerLayer() {
    base = sqlite3_vfs_find(nullptr);
    if (!base || base->iVersion < 2 || !base->xCurrentTimeInt64) return nullptr;
    layer = sqlite3_vfs{.iVersion = 2,
                        .szOsFile = static_cast<int>(sizeof(File)) + base->szOsFile,
                        .mxPathname = base->mxPathname,
                        .pNext = nullptr,
                        .zName = "dravix-wal-batching",
                        .pAppData = nullptr,
                        .xOpen = xOpen,
                        .xDelete = xDelete,
                        .xAccess = xAccess,
                        .xFullPathname = xFullPathname,
                        .xDlOpen = xDlOpen,
                        .xDlError = xDlError,
                        .xDlSym = xDlSym,
                        .xDlClose = xDlClose,
                        .xRandomness = xRandomness,
                        .xSleep = xSleep,
                        .xCurrentTime = xCurrentTime,
                        .xGetLastError = xGetLastError,
                        .xCurrentTimeInt64 = xCurrentTimeInt64,
                        .xSetSystemCall = nullptr,
                        .xGetSystemCall = nullptr,
                        .xNextSystemCall = nullptr};
    passThrough = sqlite3_io_methods{.iVersion = 3,
                                     .xClose = xClose,
                                     .xRead = xRead,
                                     .xWrite = xWritePassThrough,
                                     .xTruncate = xTruncate,
                                     .xSync = xSync,
                                     .xFileSize = xFileSize,
                                     .xLock = xLock,
                                     .xUnlock = xUnlock,
                                     .xCheckReservedLock = xCheckReservedLock,
                                     .xFileControl = xFileControl,
                                     .xSectorSize = xSectorSize,
                                     .xDeviceCharacteristics = xDeviceCharacteristics,
                                     .xShmMap = xShmMap,
                                     .xShmLock = xShmLock,
                                     .xShmBarrier = xShmBarrier,
                                     .xShmUnmap = xShmUnmap,
                                     .xFetch = xFetch,
                                     .xUnfetch = xUnfetch};
    passThroughV1 = passThrough;
    passThroughV1.iVersion = 1;
    walMethods = passThroughV1;
    walMethods.xWrite = xWriteWal;
    if (sqlite3_vfs_register(&layer, 0) != SQLITE_OK) return nullptr;
    return layer.zName;
}

}  // namespace

const char* walBatchingVfsName() {
    static const char* name = registerLayer();
    return name;
}

}  // namespace tlmstorage
