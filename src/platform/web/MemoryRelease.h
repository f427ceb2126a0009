#pragma once
// Handing freed memory back to the system after large texts crossed between the app and its
// pages. A document's text crosses as several transient copies (script results, posted
// messages, pages and documents served from memory, each a few times the text's size). The C
// allocator keeps what they freed for the process's later use, so a window that showed a large
// file would leave the app that much bigger long after the copies are gone. After such a crossing
// the app asks the allocator to return its free pages (malloc_trim), once, a moment later, when
// the copies have been dropped. Main thread only.
#include <cstddef>

namespace web::memory {

// Texts at least this large ask for a release when they have crossed.
inline constexpr std::size_t kLargeCrossingBytes = 1u << 20;
// How long after the first ask the release runs; asks in between join it.
inline constexpr int kReleaseDelayMs = 400;

// Blocks of at least this size get pages of their own, which go back to the system as soon as
// they are freed. glibc otherwise raises this bound to the largest block freed so far (up to
// 32 MiB), after which the copies of a text come from the shared heap and stay with the process.
inline constexpr std::size_t kOwnPagesBytes = 256u * 1024u;

// Sets kOwnPagesBytes as the allocator's fixed bound (once per process; registerWebSchemes calls
// it, before the web engine starts its threads).
void keepLargeBlocksApart();

// Asks for one release kReleaseDelayMs from now (a release already asked for takes this ask in).
void releaseSoon();
// Asks for a release when `bytes` is at least kLargeCrossingBytes.
void releaseAfterCrossing(std::size_t bytes);

// For observers such as tests: how many releases ran, and whether one is asked for.
std::size_t releases();
bool releasePending();

}  // namespace web::memory
