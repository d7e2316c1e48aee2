// VTN_THREADED_TEST: DES calls from several threads at once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "encript.h"

namespace {

std::vector<uint8_t> FromHex(const char* hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t* p, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 0xF];
    }
    return s;
}

std::string Stored(const std::string& password)
{
    uint8_t field[64] = {};
    memcpy(field, password.data(), std::min(password.size(), sizeof field));
    vtn_encrypt_and_map(field);
    return reinterpret_cast<const char*>(field);
}

}  // namespace

TEST(Des, KnownVectors)
{
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
        {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
        // Parity bits (the low bit of each key byte) take no part.
        {"123457789ABCDEF0", "0123456789ABCDEF", "85E813540F0AB405"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        auto key = FromHex(c.key);
        auto data = FromHex(c.plain);
        ASSERT_EQ(vtn_encrypt(key.data(), data.data(), 1), 1);
        EXPECT_EQ(ToHex(data.data(), 8), c.cipher);
        ASSERT_EQ(vtn_decrypt(key.data(), data.data(), 1), 1);
        EXPECT_EQ(ToHex(data.data(), 8), c.plain);
    }
}

TEST(Des, ManyBlocksRoundTripInEcbMode)
{
    uint8_t key[8] = {'k', 'e', 'y', 'K', 'E', 'Y', '0', '1'};
    uint8_t data[40];
    for (int i = 0; i < 40; ++i)
        data[i] = static_cast<uint8_t>(i * 37 + 5);
    uint8_t original[40];
    memcpy(original, data, sizeof data);
    // Same plain blocks give the same cipher blocks.
    memcpy(data + 32, data, 8);
    memcpy(original + 32, original, 8);

    ASSERT_EQ(vtn_encrypt(key, data, 5), 1);
    EXPECT_NE(memcmp(data, original, 8), 0);
    EXPECT_EQ(memcmp(data, data + 32, 8), 0);
    ASSERT_EQ(vtn_decrypt(key, data, 5), 1);
    EXPECT_EQ(memcmp(data, original, sizeof data), 0);
}

TEST(Des, NoBlocksOrNoDataChangeNothing)
{
    uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t data[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    const uint8_t before[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(vtn_encrypt(key, data, 0), 0);
    EXPECT_EQ(vtn_encrypt(key, data, -3), 0);
    EXPECT_EQ(vtn_decrypt(key, data, 0), 0);
    EXPECT_EQ(vtn_encrypt(key, nullptr, 1), 0);
    EXPECT_EQ(vtn_decrypt(key, nullptr, 1), 0);
    EXPECT_EQ(memcmp(data, before, 8), 0);
}

TEST(Des, ConcurrentCallsDoNotDisturbEachOther)
{
    // Each call has its own key schedule.
    auto worker = [](uint8_t seed, bool* ok) {
        uint8_t key[8];
        for (int i = 0; i < 8; ++i)
            key[i] = static_cast<uint8_t>(seed + i);
        uint8_t block[8] = {}, first[8];
        vtn_encrypt(key, block, 1);
        memcpy(first, block, 8);
        *ok = true;
        for (int round = 0; round < 2000; ++round) {
            uint8_t again[8] = {};
            vtn_encrypt(key, again, 1);
            if (memcmp(again, first, 8) != 0)
                *ok = false;
            vtn_decrypt(key, again, 1);
            if (memcmp(again, "\0\0\0\0\0\0\0\0", 8) != 0)
                *ok = false;
        }
    };
    bool ok[4];
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(worker, static_cast<uint8_t>(t * 40), &ok[t]);
    for (auto& th : threads)
        th.join();
    for (bool b : ok)
        EXPECT_TRUE(b);
}

TEST(PasswordForm, GoldenStoredForms)
{
    struct Case {
        const char* password;
        const char* stored;
    };
    const Case cases[] = {
        {"wqx", "m040o0t1K/i/u1n1k.b0m071Z1//m1p0"},
        {"", "X.d0H/u/k/g/61d1X.d0H/u/k/g/61d1"},
        {"password12345678", "Z.c.20t0r0H15110x1c0R.H0J/41B/O1"},
        // Only the first 16 characters count.
        {"password1234567890", "Z.c.20t0r0H15110x1c0R.H0J/41B/O1"},
        {"password12345678 and more, up to sixty-three characters long...", "Z.c.20t0r0H15110x1c0R.H0J/41B/O1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        std::string stored = Stored(c.password);
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(stored.size(), 32u);
        EXPECT_EQ(stored.find_first_not_of(SEEDCHARS), std::string::npos);
    }
}

TEST(PasswordForm, FieldLayoutAfterMapping)
{
    uint8_t field[64];
    memset(field, 'Q', sizeof field);  // no NUL anywhere: byte 63 becomes the end
    memcpy(field, "abc", 4);            // "abc" then NUL, then 'Q' bytes up to 15
    vtn_encrypt_and_map(field);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field)), Stored("abc"));
    EXPECT_EQ(field[32], 0);
    for (int i = 33; i < 63; ++i)
        EXPECT_EQ(field[i], 'Q') << i;  // untouched
    EXPECT_EQ(field[63], 0);
}

TEST(PasswordForm, MapPassValues)
{
    uint8_t in[16] = {0xFF, 0x00, 0x01, 0x02, 0x03, 0x04, 0x7F, 0x80, 0xFC, 0xFD, 0x10, 0x11, 0x40, 0x41, 0xAA, 0x55};
    uint8_t out[32];
    vtn_map_pass(in, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), "z1.../.0.1/.T1U.z.z/2.2/E.E/e0J/");

    // In place gives the same characters.
    uint8_t buf[32] = {};
    memcpy(buf, in, 16);
    vtn_map_pass(buf, buf);
    EXPECT_EQ(memcmp(buf, out, 32), 0);
}

TEST(PasswordForm, GetposAndUnmap)
{
    EXPECT_EQ(GETPOS('.'), 0);
    EXPECT_EQ(GETPOS('/'), 1);
    EXPECT_EQ(GETPOS('0'), 2);
    EXPECT_EQ(GETPOS('A'), 12);
    EXPECT_EQ(GETPOS('a'), 38);
    EXPECT_EQ(GETPOS('z'), 63);
    EXPECT_EQ(GETPOS('!'), 0);
    EXPECT_EQ(GETPOS(0), 0);

    // Unmapping gives back the first 8 of the 16 mapped bytes.
    uint8_t in[16], mapped[32], back[8];
    for (int i = 0; i < 16; ++i)
        in[i] = static_cast<uint8_t>(i * 17 + 3);
    vtn_map_pass(in, mapped);
    vtn_unmap_pass(mapped, back);
    EXPECT_EQ(memcmp(back, in, 8), 0);
}

TEST(SessionKey, EightSeedCharacters)
{
    uint8_t key[9];
    memset(key, 0xEE, sizeof key);
    vtn_generate_key(key);
    EXPECT_EQ(key[8], 0xEE);  // no terminator
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(strchr(SEEDCHARS, key[i]), nullptr) << i;
}

TEST(PaddedForm, ExtendAndPadding)
{
    struct Case {
        int n;
        int extended;
    };
    const Case cases[] = {{1, 8}, {7, 8}, {8, 16}, {9, 16}, {15, 16}, {16, 24}};
    for (const Case& c : cases)
        EXPECT_EQ(vtn_extend(c.n), c.extended) << c.n;

    // The padding is the complement of the last data byte; the key argument plays no part.
    uint8_t a[16] = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    uint8_t b[16];
    memcpy(b, a, sizeof a);
    uint8_t key1[8] = {1}, key2[8] = {2};
    EXPECT_EQ(vtn_yencrypt(key1, a, 11), 1);
    EXPECT_EQ(vtn_yencrypt(key2, b, 11), 1);
    EXPECT_EQ(memcmp(a, b, 16), 0);

    uint8_t expected[16] = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    memset(expected + 11, static_cast<uint8_t>(~'d'), 5);
    uint8_t ownKey[8];
    memcpy(ownKey, expected, 8);
    vtn_encrypt(ownKey, expected, 2);
    EXPECT_EQ(memcmp(a, expected, 16), 0);
    EXPECT_EQ(vtn_yencrypt(key1, a, 0), 0);
}

TEST(PaddedForm, DecryptChecksThePadding)
{
    // vtn_ydecrypt keys by the cipher data's own first 8 bytes, so the input is built as
    // a fixed first block C1 and a second block encrypted under C1.
    struct Case {
        uint8_t tail[8];
        int result;
        int length;
    };
    const uint8_t g = 'g';
    const Case cases[] = {
        {{'a', 'b', 'c', 'd', 0x9B, 0x9B, 0x9B, 0x9B}, 1, 12},  // 0x9B is the complement of 'd'
        {{'a', 'b', 'c', 'd', 'e', 'f', g, static_cast<uint8_t>(~g)}, 1, 15},
        {{'a', 'b', 'c', 'x', 0x9B, 0x9B, 0x9B, 0x9B}, 0, 0},   // byte before the run is no complement
    };
    for (const Case& c : cases) {
        uint8_t data[16] = {0x9B, 0x9B, 0x9B, 0x9B, 0x9B, 0x9B, 0x9B, 0x9B};
        DesKeySchedule ks;
        deskey(&ks, data, EN0);
        des_block(&ks, c.tail, data + 8);

        int length = -1;
        EXPECT_EQ(vtn_ydecrypt(nullptr, data, 2, &length), c.result);
        EXPECT_EQ(memcmp(data + 8, c.tail, 8), 0);
        if (c.result == 1) {
            EXPECT_EQ(length, c.length);
        }
    }
    uint8_t none[8] = {};
    EXPECT_EQ(vtn_ydecrypt(nullptr, none, 0, nullptr), 0);
}
