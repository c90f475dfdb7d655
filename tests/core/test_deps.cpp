// The client links OpenSSL, zlib and the gSOAP runtime statically; each one
// must work inside the 32-bit process under Wine.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <stdsoap2.h>
#include <zlib.h>

#include <string>

TEST(Dependencies, OpenSslMakesTlsContextAndDigest) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    ASSERT_NE(ctx, nullptr);
    SSL_CTX_free(ctx);

    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    ASSERT_EQ(EVP_Digest("abc", 3, md, &n, EVP_sha1(), nullptr), 1);
    ASSERT_EQ(n, 20u);
    EXPECT_EQ(md[0], 0xA9);
    EXPECT_EQ(md[19], 0x9D);
}

TEST(Dependencies, ZlibRoundTrip) {
    std::string text(10000, 'x');
    uLongf clen = compressBound(text.size());
    std::string packed(clen, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(&packed[0]), &clen,
                        reinterpret_cast<const Bytef*>(text.data()), text.size(), 3),
              Z_OK);
    std::string out(text.size(), '\0');
    uLongf olen = out.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&out[0]), &olen,
                         reinterpret_cast<const Bytef*>(packed.data()), clen),
              Z_OK);
    EXPECT_EQ(out, text);
}

TEST(Dependencies, GsoapContextLives) {
    struct soap* soap = soap_new();
    ASSERT_NE(soap, nullptr);
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
}
