#include "encript.h"

#include <array>
#include <cstring>
#include <ctime>

const char SEEDCHARS[65] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

namespace {

// Key permutation PC-1 (0-based bit numbers of the 64-bit key, bit 0 = MSB of byte 0).
constexpr uint8_t kPc1[56] = {
    56, 48, 40, 32, 24, 16, 8,  0,  57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42,
    34, 26, 18, 10, 2,  59, 51, 43, 35, 62, 54, 46, 38, 30, 22, 14, 6,  61, 53,
    45, 37, 29, 21, 13, 5,  60, 52, 44, 36, 28, 20, 12, 4,  27, 19, 11, 3};

// Cumulative left rotations of C and D before each round.
constexpr uint8_t kTotalRotations[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

// Key permutation PC-2 (0-based positions in C||D).
constexpr uint8_t kPc2[48] = {
    13, 16, 10, 23, 0,  4,  2,  27, 14, 5,  20, 9,  22, 18, 11, 3,
    25, 7,  15, 6,  26, 19, 12, 1,  40, 51, 30, 36, 46, 54, 29, 39,
    50, 44, 32, 47, 43, 48, 38, 55, 33, 52, 45, 41, 49, 35, 28, 31};

// The eight S-boxes, rows of 16.
constexpr uint8_t kSBox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// The P permutation (1-based input bit for each output bit, bit 1 = MSB).
constexpr uint8_t kPBox[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                               2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr bool SBoxRowsArePermutations()
{
    for (const auto& box : kSBox)
        for (const auto& row : box) {
            unsigned seen = 0;
            for (uint8_t v : row)
                seen |= 1u << v;
            if (seen != 0xFFFF)
                return false;
        }
    return true;
}
static_assert(SBoxRowsArePermutations());

// Combined S-box and P tables: for S-box s and a 6-bit input, the P-permuted output,
// rotated left by one bit as the round function keeps its halves.
using SpTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTables MakeSpTables()
{
    SpTables sp{};
    for (int s = 0; s < 8; ++s)
        for (int in = 0; in < 64; ++in) {
            int row = ((in >> 4) & 2) | (in & 1);
            int col = (in >> 1) & 0xF;
            uint32_t sOut = static_cast<uint32_t>(kSBox[s][row][col]) << (28 - 4 * s);
            uint32_t p = 0;
            for (int j = 0; j < 32; ++j)
                if (sOut & (0x80000000u >> (kPBox[j] - 1)))
                    p |= 0x80000000u >> j;
            sp[s][in] = (p << 1) | (p >> 31);
        }
    return sp;
}
constexpr SpTables kSp = MakeSpTables();

// Rearranges the raw 48-bit subkeys (24 bits in each of two words) into the
// 6-bit groups the round function uses.
void cookey(DesKeySchedule* ks, const uint32_t* raw)
{
    uint32_t* cook = ks->KnL;
    for (int i = 0; i < 16; ++i, raw += 2) {
        const uint32_t raw0 = raw[0];
        const uint32_t raw1 = raw[1];
        *cook = (raw0 & 0x00fc0000u) << 6;
        *cook |= (raw0 & 0x00000fc0u) << 10;
        *cook |= (raw1 & 0x00fc0000u) >> 10;
        *cook++ |= (raw1 & 0x00000fc0u) >> 6;
        *cook = (raw0 & 0x0003f000u) << 12;
        *cook |= (raw0 & 0x0000003fu) << 16;
        *cook |= (raw1 & 0x0003f000u) >> 4;
        *cook++ |= (raw1 & 0x0000003fu);
    }
}

void scrunch(const uint8_t* in, uint32_t* words)
{
    words[0] = (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
    words[1] = (uint32_t{in[4]} << 24) | (uint32_t{in[5]} << 16) | (uint32_t{in[6]} << 8) | in[7];
}

void unscrun(const uint32_t* words, uint8_t* out)
{
    for (int w = 0; w < 2; ++w)
        for (int b = 0; b < 4; ++b)
            out[4 * w + b] = static_cast<uint8_t>(words[w] >> (24 - 8 * b));
}

inline uint32_t RoundF(uint32_t half, const uint32_t* keys)
{
    uint32_t work = ((half << 28) | (half >> 4)) ^ keys[0];
    uint32_t f = kSp[6][work & 0x3f] | kSp[4][(work >> 8) & 0x3f] | kSp[2][(work >> 16) & 0x3f] |
                 kSp[0][(work >> 24) & 0x3f];
    work = half ^ keys[1];
    f |= kSp[7][work & 0x3f] | kSp[5][(work >> 8) & 0x3f] | kSp[3][(work >> 16) & 0x3f] |
         kSp[1][(work >> 24) & 0x3f];
    return f;
}

// Initial permutation, 16 rounds, final permutation.
void desfunc(uint32_t* block, const uint32_t* keys)
{
    uint32_t left = block[0];
    uint32_t right = block[1];
    uint32_t work;
    work = ((left >> 4) ^ right) & 0x0f0f0f0fu;
    right ^= work;
    left ^= work << 4;
    work = ((left >> 16) ^ right) & 0x0000ffffu;
    right ^= work;
    left ^= work << 16;
    work = ((right >> 2) ^ left) & 0x33333333u;
    left ^= work;
    right ^= work << 2;
    work = ((right >> 8) ^ left) & 0x00ff00ffu;
    left ^= work;
    right ^= work << 8;
    right = (right << 1) | (right >> 31);
    work = (left ^ right) & 0xaaaaaaaau;
    left ^= work;
    right ^= work;
    left = (left << 1) | (left >> 31);

    for (int round = 0; round < 8; ++round) {
        left ^= RoundF(right, keys);
        keys += 2;
        right ^= RoundF(left, keys);
        keys += 2;
    }

    right = (right << 31) | (right >> 1);
    work = (left ^ right) & 0xaaaaaaaau;
    left ^= work;
    right ^= work;
    left = (left << 31) | (left >> 1);
    work = ((left >> 8) ^ right) & 0x00ff00ffu;
    right ^= work;
    left ^= work << 8;
    work = ((left >> 2) ^ right) & 0x33333333u;
    right ^= work;
    left ^= work << 2;
    work = ((right >> 16) ^ left) & 0x0000ffffu;
    left ^= work;
    right ^= work << 16;
    work = ((right >> 4) ^ left) & 0x0f0f0f0fu;
    left ^= work;
    right ^= work << 4;
    block[0] = right;
    block[1] = left;
}

int RunDes(uint8_t* key, uint8_t* data, int count, int mode)
{
    if (data == nullptr || key == nullptr || count < 1)
        return 0;
    DesKeySchedule ks;
    deskey(&ks, key, mode);  // the schedule is taken before data changes (key may alias data)
    des(&ks, data, data, count);
    return 1;
}

}  // namespace

namespace {

// For each of the 16 rounds, which bit of the permuted-choice-1 key (0..55) each of the round's 48
// key bits is: the rotation of the two halves and permuted choice 2, worked out once.
struct RoundBitTable {
    uint8_t bit[16][48];
};

constexpr RoundBitTable MakeRoundBits()
{
    RoundBitTable t{};
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 48; ++j) {
            int k = kPc2[j];
            int l = k + kTotalRotations[i];
            int limit = k < 28 ? 28 : 56;
            t.bit[i][j] = static_cast<uint8_t>(l < limit ? l : l - 28);
        }
    }
    return t;
}

constexpr RoundBitTable kRoundBits = MakeRoundBits();

}  // namespace

void deskey(DesKeySchedule* ks, const uint8_t* key, int mode)
{
    uint8_t pc1m[56];
    uint32_t kn[32];
    for (int j = 0; j < 56; ++j) {
        int bit = kPc1[j];
        pc1m[j] = (key[bit >> 3] & (0x80 >> (bit & 7))) ? 1 : 0;
    }
    for (int i = 0; i < 16; ++i) {
        int m = (mode == DE1 ? 15 - i : i) << 1;
        int n = m + 1;
        kn[m] = kn[n] = 0;
        const uint8_t* bits = kRoundBits.bit[i];
        for (int j = 0; j < 24; ++j) {
            if (pc1m[bits[j]])
                kn[m] |= 0x800000u >> j;
            if (pc1m[bits[j + 24]])
                kn[n] |= 0x800000u >> j;
        }
    }
    cookey(ks, kn);
}

void des_block(const DesKeySchedule* ks, const uint8_t* in, uint8_t* out)
{
    uint32_t work[2];
    scrunch(in, work);
    desfunc(work, ks->KnL);
    unscrun(work, out);
}

void des(const DesKeySchedule* ks, const uint8_t* in, uint8_t* out, int n)
{
    for (int i = 0; i < n; ++i)
        des_block(ks, in + 8 * i, out + 8 * i);
}

int vtn_encrypt(uint8_t* key, uint8_t* data, int count)
{
    return RunDes(key, data, count, EN0);
}

int vtn_decrypt(uint8_t* key, uint8_t* data, int count)
{
    return RunDes(key, data, count, DE1);
}

void vtn_map_pass(uint8_t* in, uint8_t* out)
{
    if (in == nullptr || out == nullptr)
        return;
    // Through a scratch buffer, so that in and out may be the same.
    uint8_t mapped[32];
    for (int i = 0; i < 16; ++i) {
        mapped[2 * i] = static_cast<uint8_t>(SEEDCHARS[in[i] >> 2]);
        mapped[2 * i + 1] = static_cast<uint8_t>(SEEDCHARS[in[i] & 3]);
    }
    memcpy(out, mapped, sizeof mapped);
}

void vtn_encrypt_and_map(uint8_t* buf)
{
    if (buf == nullptr)
        return;
    buf[63] = 0;
    size_t len = strnlen(reinterpret_cast<const char*>(buf), 16);
    if (len < 16)
        memset(buf + len, 0, 16 - len);
    uint8_t key[8];
    memcpy(key, buf, sizeof key);
    vtn_encrypt(key, buf, 2);
    vtn_map_pass(buf, buf);
    buf[32] = 0;
}

void vtn_generate_key(uint8_t* key)
{
    if (key == nullptr)
        return;
    // Overlapping 6-bit windows of the clock: every character moves with time.
    uint64_t t = static_cast<uint64_t>(time(nullptr));
    for (int i = 0; i < 8; ++i)
        key[i] = static_cast<uint8_t>(SEEDCHARS[((t >> (3 * i)) ^ (t >> (24 - 3 * i))) & 0x3f]);
}

int GETPOS(uint8_t c)
{
    for (int i = 0; i < 64; ++i)
        if (static_cast<uint8_t>(SEEDCHARS[i]) == c)
            return i;
    return 0;
}

int vtn_extend(int n)
{
    return (n & ~7) + 8;
}

int vtn_yencrypt(uint8_t* /*key*/, uint8_t* data, int n)
{
    if (data == nullptr || n < 1)
        return 0;
    // data must hold vtn_extend(n) bytes.
    int total = vtn_extend(n);
    uint8_t pad = static_cast<uint8_t>(~data[n - 1]);
    memset(data + n, pad, static_cast<size_t>(total - n));
    return vtn_encrypt(data, data, total / 8);
}

int vtn_ydecrypt(uint8_t* /*key*/, uint8_t* data, int n, int* length)
{
    if (vtn_decrypt(data, data, n) == 0)
        return 0;
    if (length == nullptr)
        return 1;
    int last = 8 * n - 1;
    uint8_t pad = data[last];
    int i = last;
    while (i >= 0 && data[i] == pad)
        --i;
    if (i < 0 || data[i] != static_cast<uint8_t>(~pad))
        return 0;
    *length = i + 1;
    return 1;
}

void vtn_unmap_pass(uint8_t* in, uint8_t* out)
{
    if (in == nullptr || out == nullptr)
        return;
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>((GETPOS(in[2 * i]) * 4) | (GETPOS(in[2 * i + 1]) & 3));
    memcpy(out, bytes, sizeof bytes);
}
