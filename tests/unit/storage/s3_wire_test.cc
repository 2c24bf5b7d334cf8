// The texts of the wire: keys and queries as they are signed, a store's
// listing and error documents, and which failures are sent again.
#include "storage/s3_wire.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

using namespace nsfmend;  // the module under test

namespace {

TEST(S3Wire, KeysAndQueriesAreEncodedAndSortedAsTheySignatureWantsThem) {
    EXPECT_EQ("logs/S0000001.TXN-full", uriEncode("logs/S0000001.TXN-full", true));
    EXPECT_EQ("a%20b%2Bc/%C3%A9~_.-", uriEncode("a b+c/\xc3\xa9~_.-", true));
    EXPECT_EQ("logs%2F", uriEncode("logs/", false));
    EXPECT_EQ("a b+c/\xc3\xa9", uriDecode("a+b%2Bc%2F%C3%A9"));
    EXPECT_EQ("100%", uriDecode("100%"));  // a malformed escape stays
    EXPECT_EQ("continuation-token=a%2Bb%3D&delimiter=%2F&list-type=2&prefix=logs%2Fday%201",
              canonicalQuery({{"prefix", "logs/day 1"},
                              {"list-type", "2"},
                              {"delimiter", "/"},
                              {"continuation-token", "a+b="}}));
}

TEST(S3Wire, AnErrorDocumentGivesItsCodeWithOrWithoutADeclaration) {
    S3Error error;
    EXPECT_TRUE(parseS3Error("<?xml version='1.0' encoding='UTF-8'?>\n<Error><Code>NoSuchBucket</Code>"
                             "<Message>The specified bucket &amp; key do not exist.</Message></Error>",
                             &error));
    EXPECT_EQ("NoSuchBucket", error.code);
    EXPECT_EQ("The specified bucket & key do not exist.", error.message);
    EXPECT_TRUE(parseS3Error("<Error><Code>SlowDown</Code></Error>", &error));
    EXPECT_EQ("SlowDown", error.code);
    EXPECT_FALSE(parseS3Error("<ListBucketResult></ListBucketResult>", &error));
    EXPECT_FALSE(parseS3Error("binary extent bytes <Error>", &error));
    EXPECT_FALSE(parseS3Error("", &error));
}

TEST(S3Wire, AListingGivesObjectsPrefixesAndWhereToGoOn) {
    const std::string page =
        "<?xml version=\"1.0\"?><ListBucketResult xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">"
        "<Name>b</Name><Prefix>logs/</Prefix><IsTruncated>true</IsTruncated>"
        "<Contents><Key>logs/S0000001.TXN</Key><LastModified>2013-11-15T12:00:00.000Z</LastModified>"
        "<Size>262144</Size></Contents>"
        "<Contents><Key>logs/a&amp;b</Key><ETag>\"x\"</ETag><Size>0</Size></Contents>"
        "<CommonPrefixes><Prefix>logs/S0000002.TXN/</Prefix></CommonPrefixes>"
        "<NextContinuationToken>tok/1=</NextContinuationToken></ListBucketResult>";
    S3Listing listing;
    ASSERT_TRUE(parseS3Listing(page, &listing));
    ASSERT_EQ(2u, listing.objects.size());
    EXPECT_EQ("logs/S0000001.TXN", listing.objects[0].key);
    EXPECT_EQ(262144u, listing.objects[0].size);
    EXPECT_EQ(1384516800, listing.objects[0].modified);
    EXPECT_EQ(0, listing.objects[1].modified);  // none given
    EXPECT_EQ("logs/a&b", listing.objects[1].key);
    ASSERT_EQ(1u, listing.prefixes.size());
    EXPECT_EQ("logs/S0000002.TXN/", listing.prefixes[0]);
    EXPECT_TRUE(listing.truncated);
    EXPECT_EQ("tok/1=", listing.nextToken);

    // Keys the store encoded because it was asked to.
    ASSERT_TRUE(parseS3Listing("<ListBucketResult><EncodingType>url</EncodingType><Contents>"
                               "<Key>logs/a%0Ab+c</Key><Size>3</Size></Contents></ListBucketResult>",
                               &listing));
    EXPECT_EQ("logs/a\nb c", listing.objects[0].key);
    // No listing; a size that is no number; cut with no token to go on.
    EXPECT_FALSE(parseS3Listing("<Error><Code>AccessDenied</Code></Error>", &listing));
    EXPECT_FALSE(parseS3Listing("<ListBucketResult><Contents><Key>k</Key><Size>x</Size></Contents>"
                                "</ListBucketResult>", &listing));
    EXPECT_FALSE(parseS3Listing("<ListBucketResult><IsTruncated>true</IsTruncated></ListBucketResult>",
                                &listing));
}

TEST(S3Wire, WhatIsSentAgainIsWhatMayGetThroughTheNextTime) {
    const struct {
        int transport;
        long status;
        const char *code;
        Outcome outcome;
    } cases[] = {
        {CURLE_OK, 200, "", Outcome::kSuccess},
        {CURLE_OK, 204, "", Outcome::kSuccess},
        {CURLE_OK, 200, "InternalError", Outcome::kRetry},  // a 200 holding an error
        {CURLE_OK, 200, "AccessDenied", Outcome::kFail},
        {CURLE_OK, 500, "InternalError", Outcome::kRetry},
        {CURLE_OK, 503, "SlowDown", Outcome::kRetry},
        {CURLE_OK, 502, "", Outcome::kRetry},
        {CURLE_OK, 429, "", Outcome::kRetry},
        {CURLE_OK, 400, "RequestTimeout", Outcome::kRetry},
        {CURLE_OK, 400, "BadDigest", Outcome::kFail},
        {CURLE_OK, 403, "SignatureDoesNotMatch", Outcome::kFail},
        {CURLE_OK, 404, "NoSuchBucket", Outcome::kFail},
        {CURLE_COULDNT_CONNECT, 0, "", Outcome::kRetry},
        {CURLE_OPERATION_TIMEDOUT, 0, "", Outcome::kRetry},
        {CURLE_PARTIAL_FILE, 200, "", Outcome::kRetry},  // a body cut short
        {CURLE_GOT_NOTHING, 0, "", Outcome::kRetry},     // dropped without an answer
        {CURLE_RECV_ERROR, 0, "", Outcome::kRetry},
        {CURLE_COULDNT_RESOLVE_HOST, 0, "", Outcome::kFail},
        {CURLE_PEER_FAILED_VERIFICATION, 0, "", Outcome::kFail},
        {CURLE_ABORTED_BY_CALLBACK, 0, "", Outcome::kFail},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.outcome, judgeAttempt(c.transport, c.status, c.code))
            << c.transport << " " << c.status << " " << c.code;
}

}  // namespace
