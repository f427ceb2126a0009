#include "platform/defaults/Uuid.h"

#include <openssl/rand.h>
#include <pthread.h>

#include <cstring>
#include <mutex>
#include <random>

namespace defaults {
namespace {

// One call to OpenSSL for every 64 ids instead of one each. A forked child starts with an empty
// block, so it never repeats what its parent hands out next.
struct RandomBlock {
    unsigned char bytes[1024];
    std::size_t used = sizeof bytes;
};
thread_local RandomBlock t_randomBlock;

void randomBytes16(unsigned char* out) {
    static std::once_flag forkHook;
    std::call_once(forkHook, [] { pthread_atfork(nullptr, nullptr, [] { t_randomBlock.used = sizeof t_randomBlock.bytes; }); });
    RandomBlock& block = t_randomBlock;
    if (block.used + 16 > sizeof block.bytes) {
        if (RAND_bytes(block.bytes, sizeof block.bytes) != 1) {
            thread_local std::mt19937_64 gen{std::random_device{}()};
            for (auto& x : block.bytes) x = static_cast<unsigned char>(gen());
        }
        block.used = 0;
    }
    std::memcpy(out, block.bytes + block.used, 16);
    block.used += 16;
}

}  // namespace

std::string uuidString() {
    unsigned char b[16];
    randomBytes16(b);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant 1
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(36, '-');
    for (std::size_t i = 0, at = 0; i < 16; ++i) {
        if (at == 8 || at == 13 || at == 18 || at == 23) ++at;
        out[at++] = kHex[b[i] >> 4];
        out[at++] = kHex[b[i] & 0x0F];
    }
    return out;
}

}  // namespace defaults
