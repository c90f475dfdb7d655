// The password cache: the stored format pinned by golden vectors (checked
// with `openssl enc -des-ede3 -nopad`), round trips and damaged lists.
#include "fakes/route_fakes.h"
#include "net/dicrypt.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

std::string hex(const uint8_t* b, size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[b[i] >> 4];
        s += d[b[i] & 15];
    }
    return s;
}

const char16_t kKey[] = u"HTTP proxy 127.0.0.1:8080";

struct Material {
    uint8_t value[20], first[8], second[8];
    Material() { diCryptGetKeyMaterial(value, first, second); }
};

class Crypt : public ::testing::Test {
  protected:
    void SetUp() override { routeFakesReset(); }
};

// Stored entries stay readable only while these bytes do not change.
TEST_F(Crypt, GoldenVectors) {
    Material m;
    EXPECT_EQ(hex(m.first, 8), "54d4615b16990a00");
    EXPECT_EQ(hex(m.value, 20), "a7b9a43615cfdfa55448061f7b9f08ce510ecd78");
    struct {
        const char16_t* password;
        const char* prot;
    } vectors[] = {
        {u"secret", "240e4670e127f1427ee6009fe28a66a0"},
        {u"", "a7f876fce8387037e80a017a3feb8387"},
        {u"fifteen-bytes!!", "2da2e040c7cf1c41f0a966a53332f447"},
        {u"sixteen-bytes!!!", "828f7b0003bbd4ffb0afcbcb4ee8800a"},
        {u"p\u00e4ss", "85d0f2fdf62a9548b9f6ffe4706303fb"},
    };
    for (const auto& v : vectors) {
        uint8_t out[16];
        ASSERT_EQ(diCryptProtectPassword(v.password, kKey, m.value, m.first, out), 0);
        EXPECT_EQ(hex(out, 16), v.prot);
        DiChar* back = diCryptUnprotectPassword(out, kKey, m.value, m.first);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(std::u16string(back), v.password);
        free(back);
    }
}

// The independent oracle: openssl's triple DES with the three keys decrypts
// the vector to the password, its zero byte and the SHA-1 fill.
TEST_F(Crypt, VectorsAgreeWithOpenssl) {
#ifdef _WIN32
    GTEST_SKIP() << "the openssl tool runs in the host tree";
#endif
    Material m;
    uint8_t k2[8], k3[8];
    std::string kt = "HTTP proxy 127.0.0.1:8080";
    diCryptDeriveKey(reinterpret_cast<const uint8_t*>(kt.data()), kt.size(), 7, k2);
    diCryptDeriveKey(m.value, 20, 7, k3);
    std::string cmd = "printf '\\044\\016\\106\\160\\341\\047\\361\\102\\176\\346\\000\\237\\342\\212\\146\\240'"
                      " | openssl enc -des-ede3 -nopad -d -K " +
                      hex(m.first, 8) + hex(k2, 8) + hex(k3, 8) + " 2>/dev/null | od -An -tx1 | tr -d ' \\n'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[128] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    // "secret", 0, then SHA-1("secret\0") from its start.
    EXPECT_EQ(std::string(buf, n), "73656372657400" "37d45398a7f4a3cb94");
}

TEST_F(Crypt, RefusesWhatWouldBeCutAndRejectsDamagedBlocks) {
    Material m;
    uint8_t out[16];
    // 17 bytes, and 16 bytes that are 9 characters (a cut would split one).
    EXPECT_EQ(diCryptProtectPassword(u"seventeen-bytes!!", kKey, m.value, m.first, out), -1);
    EXPECT_EQ(diCryptProtectPassword(u"\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4x", kKey,
                                     m.value, m.first, out),
              -1);
    EXPECT_EQ(diCryptStoreCredentials(kKey, u"alice", u"seventeen-bytes!!"), DI_CRYPT_TOO_LONG);
    EXPECT_EQ(g_fakeRoutes.cacheWrites, 0);
    // A refused password does not leave the key's old one to be sent.
    ASSERT_EQ(diCryptStoreCredentials(kKey, u"alice", u"old"), 1);
    EXPECT_EQ(diCryptStoreCredentials(kKey, u"alice", u"seventeen-bytes!!"), DI_CRYPT_TOO_LONG);
    DiChar *user = nullptr, *password = nullptr;
    EXPECT_EQ(diCryptLookupCredentials(kKey, &user, &password), 0);
    free(user);
    free(password);

    ASSERT_EQ(diCryptProtectPassword(u"secret", kKey, m.value, m.first, out), 0);
    out[15] ^= 1;
    EXPECT_EQ(diCryptUnprotectPassword(out, kKey, m.value, m.first), nullptr);
    out[15] ^= 1;
    // Another key text (another entry's key) does not decrypt it either.
    EXPECT_EQ(diCryptUnprotectPassword(out, u"HTTP proxy 127.0.0.1:8081", m.value, m.first), nullptr);
}

TEST_F(Crypt, FieldEncodingRoundTripsAndRefusesForeignText) {
    for (size_t n = 0; n < 40; ++n) {
        uint8_t in[40], out[40];
        for (size_t i = 0; i < n; ++i) in[i] = uint8_t(i * 37 + n);
        DiChar* text = diCryptEncode(in, n);
        std::u16string t(text);
        free(text);
        EXPECT_EQ(t.find_first_of(u":\n"), std::u16string::npos);
        ASSERT_EQ(diCryptDecode(t.c_str(), t.size(), out, sizeof out), int(n));
        EXPECT_EQ(memcmp(in, out, n), 0);
    }
    uint8_t out[8];
    EXPECT_EQ(diCryptDecode(u"abc", 3, out, 8), -1);      // not whole groups
    EXPECT_EQ(diCryptDecode(u"a=bc", 4, out, 8), -1);     // fill inside
    EXPECT_EQ(diCryptDecode(u"ab+c", 4, out, 8), -1);     // outside the alphabet
    EXPECT_EQ(diCryptDecode(u"qqqqqqqq", 8, out, 4), -1); // does not fit
}

TEST_F(Crypt, StoreReplacesInPlaceAndLookupFindsIt) {
    ASSERT_EQ(diCryptStoreCredentials(u"HTTP proxy a:1", u"alice", u"one"), 1);
    ASSERT_EQ(diCryptStoreCredentials(u"HTTP proxy b:2", u"bob", u"two"), 1);
    ASSERT_EQ(diCryptStoreCredentials(u"HTTP proxy a:1", u"alice2", u"three"), 1);
    EXPECT_EQ(g_fakeRoutes.cache.size(), 2u);
    DiChar *user = nullptr, *password = nullptr;
    ASSERT_EQ(diCryptLookupCredentials(u"HTTP proxy a:1", &user, &password), 1);
    EXPECT_EQ(std::u16string(user), u"alice2");
    EXPECT_EQ(std::u16string(password), u"three");
    free(user);
    free(password);
    EXPECT_EQ(diCryptLookupCredentials(u"HTTP proxy c:3", &user, &password), 0);
    // Every item is "key:user:protected\n".
    for (const auto& item : g_fakeRoutes.cache) {
        EXPECT_EQ(std::count(item.begin(), item.end(), u':'), 2);
        EXPECT_EQ(item.back(), u'\n');
    }
}

TEST_F(Crypt, MalformedEntriesAreSkippedAndKept) {
    g_fakeRoutes.cache = {u"garbage without fields\n", u"a:b\n", u"x:y:z:w\n"};
    ASSERT_EQ(diCryptStoreCredentials(kKey, u"alice", u"pw"), 1);
    ASSERT_EQ(g_fakeRoutes.cache.size(), 4u);
    EXPECT_EQ(g_fakeRoutes.cache[0], u"garbage without fields\n");
    EXPECT_EQ(g_fakeRoutes.cache[1], u"a:b\n");
    EXPECT_EQ(g_fakeRoutes.cache[2], u"x:y:z:w\n");
    DiChar *user = nullptr, *password = nullptr;
    ASSERT_EQ(diCryptLookupCredentials(kKey, &user, &password), 1);
    EXPECT_EQ(std::u16string(password), u"pw");
    free(user);
    free(password);
}

TEST_F(Crypt, ForgottenEntriesKeepThreeFieldsAndMakeRoomInAFullList) {
    ASSERT_EQ(diCryptStoreCredentials(u"k0", u"u", u"p"), 1);
    ASSERT_EQ(diCryptStorePassword(u"k0", u"", nullptr, 0), 1); // forget
    DiCryptEntry e;
    ASSERT_EQ(diCryptSplitEntry(g_fakeRoutes.cache[0].c_str(), &e), 1);
    EXPECT_EQ(std::u16string(e.user), u"");
    EXPECT_EQ(std::u16string(e.prot), u"");
    diCryptEntryFree(&e);
    DiChar *user = nullptr, *password = nullptr;
    EXPECT_EQ(diCryptLookupCredentials(u"k0", &user, &password), 0);

    for (int i = 1; i < DI_CRYPT_MAX_ENTRIES; ++i) {
        std::u16string k = u"k" + std::u16string(1, char16_t(u'A' + i));
        ASSERT_EQ(diCryptStoreCredentials(k.c_str(), u"u", u"p"), 1);
    }
    ASSERT_EQ(g_fakeRoutes.cache.size(), size_t(DI_CRYPT_MAX_ENTRIES));
    // The 33rd key takes the forgotten entry's place...
    ASSERT_EQ(diCryptStoreCredentials(u"new", u"u", u"p"), 1);
    EXPECT_EQ(g_fakeRoutes.cache.size(), size_t(DI_CRYPT_MAX_ENTRIES));
    ASSERT_EQ(diCryptLookupCredentials(u"new", &user, &password), 1);
    free(user);
    free(password);
    ASSERT_EQ(diCryptLookupCredentials(u"kB", &user, &password), 1);
    free(user);
    free(password);
    // ...and with none left, nothing is overwritten.
    EXPECT_EQ(diCryptStoreCredentials(u"newer", u"u", u"p"), 0);
}

// "Remember password" and its unticking say no when the list did not reach
// the file.
TEST_F(Crypt, AStoreOrForgetThatWasNotWrittenFails) {
    ASSERT_EQ(diCryptStoreCredentials(kKey, u"alice", u"pw"), 1);
    g_fakeRoutes.cacheFull = true;
    EXPECT_EQ(diCryptStoreCredentials(u"other", u"bob", u"pw"), 0);
    EXPECT_FALSE(diCryptStoreCachedLogin(u"http://a/", u"bob", u"pw"));
    EXPECT_EQ(diCryptStorePassword(kKey, u"", nullptr, 0), 0);
}

} // namespace
