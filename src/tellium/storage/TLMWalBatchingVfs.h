#pragma once
// A thin layer over SQLite's own file system layer that hands a commit's write-ahead-log frames to
// the kernel in a few large writes instead of two per page (a 24-byte header, then the page).
// SQLite writes a commit's frames in order, the one that ends the commit last; the layer gathers
// frames in memory (up to one unix write's worth at a time) and writes them out as soon as the
// frame that ends a commit is complete, before SQLite publishes the commit to other connections.
// So what a commit wrote is with the kernel when the commit returns, exactly as before: a killed
// process still loses nothing it committed, and another connection (the checkpoint thread's)
// never reads a frame that is still here. Everything else (the main file, the shared-memory
// index, locks, syncs) goes straight through; a read, a sync, a truncation or a size query of the
// log writes out what is gathered first.
//
// Only the connection that writes the logs uses it; its statements are serialised by the store.

namespace tlmstorage {

// The name to open a connection with (sqlite3_open_v2's last argument). Registers the layer on the
// first call; nullptr (SQLite's default) when it could not be registered.
const char* walBatchingVfsName();

}  // namespace tlmstorage
