// Where an object store is and how it is reached: the location's URL, the
// endpoint, the settings and credentials from the environment, and the
// credentials file that only its owner may read.
#include "storage/s3_config.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include "common/temp_dir.h"

using namespace nsfmend;  // the module under test

namespace {

struct Env {
    std::map<std::string, std::string> values;
    Environment get() const {
        return [this](const char *name) -> const char * {
            const auto found = values.find(name);
            return found != values.end() ? found->second.c_str() : nullptr;
        };
    }
};

const Env kKeys{{{"AWS_ACCESS_KEY_ID", "AKID"}, {"AWS_SECRET_ACCESS_KEY", "s3cr3t-value"}}};

TEST(S3Location, TakesABucketAndAPrefixAsStoresNameThem) {
    const struct {
        const char *text, *bucket, *prefix;
    } cases[] = {
        {"s3://archive/logs/", "archive", "logs/"},
        {"s3://archive/logs", "archive", "logs"},
        {"s3://archive", "archive", ""},
        {"s3://archive/", "archive", ""},
        {"s3://my.archive-01/a/b/day1-", "my.archive-01", "a/b/day1-"},
    };
    S3Location location;
    for (const auto &c : cases) {
        const Result parsed = parseS3Location(c.text, &location);
        EXPECT_TRUE(parsed.isOk()) << c.text << ": " << parsed.explanation();
        EXPECT_EQ(c.bucket, location.bucket) << c.text;
        EXPECT_EQ(c.prefix, location.prefix) << c.text;
    }
    // Too short, upper case, a leading "-", "_", an empty, ".." or "." part,
    // a control character, another scheme.
    for (const char *text : {"s3://ab/logs/", "s3://Archive/logs/", "s3://-archive/logs/",
                             "s3://archive_1/logs/", "s3://archive//logs/", "s3://archive/logs/../other/",
                             "s3://archive/./logs/", "s3://archive/lo\ngs/", "http://archive/logs/"})
        EXPECT_EQ(EINVAL, parseS3Location(text, &location).error()) << text;
}

TEST(S3Endpoint, IsAHostAndPortAndNeverAMetadataAddress) {
    const struct {
        const char *text, *host, *port;
        bool ip;
    } cases[] = {
        {"https://s3.example.net", "s3.example.net", "", false},
        {"http://127.0.0.1:9000/", "127.0.0.1", "9000", true},
        {"https://[::1]:8443", "[::1]", "8443", true},
        {"https://[::1]", "[::1]", "", true},
    };
    S3Endpoint endpoint;
    for (const auto &c : cases) {
        const Result parsed = parseS3Endpoint(c.text, &endpoint);
        EXPECT_TRUE(parsed.isOk()) << c.text << ": " << parsed.explanation();
        EXPECT_EQ(c.host, endpoint.host) << c.text;
        EXPECT_EQ(c.port, endpoint.port) << c.text;
        EXPECT_EQ(c.ip, endpoint.ipAddress) << c.text;
    }
    for (const char *text :
         {"ftp://s3.example.net", "s3.example.net", "https://user:pw@s3.example.net",
          "https://s3.example.net/bucket", "https://s3.example.net?x=1", "https://s3.example.net:99999",
          "https://s3.example.net:http", "http://169.254.169.254", "http://169.254.0.1:80",
          "http://[fd00:ec2::254]", "http://[fe80::1]", "https://"})
        EXPECT_FALSE(parseS3Endpoint(text, &endpoint).isOk()) << text;
}

TEST(S3Settings, DefaultsAreTheCloudsOwnAndEveryLimitHasOne) {
    S3Settings settings;
    ASSERT_TRUE(loadS3Settings(kKeys.get(), &settings).isOk());
    EXPECT_EQ("us-east-1", settings.region);
    EXPECT_EQ("https", settings.endpoint.scheme);
    EXPECT_EQ("s3.us-east-1.amazonaws.com", settings.endpoint.host);
    EXPECT_FALSE(settings.pathStyle);
    EXPECT_EQ(10, settings.connectTimeout);
    EXPECT_EQ(30, settings.lowSpeedTime);
    EXPECT_EQ(900, settings.requestTimeout);
    EXPECT_EQ(4, settings.retries);
    EXPECT_EQ(1800, settings.deadline);
    EXPECT_EQ("AKID", settings.accessKey);
    EXPECT_TRUE(settings.sessionToken.empty());
}

TEST(S3Settings, TakeTheEnvironmentsWordAndRefuseWhatCannotBe) {
    Env env = kKeys;
    env.values["AWS_DEFAULT_REGION"] = "eu-west-3";
    env.values["AWS_ENDPOINT_URL"] = "http://10.0.0.5:7480";
    env.values["AWS_SESSION_TOKEN"] = "token";
    env.values["NSFMEND_S3_RETRIES"] = "0";
    env.values["NSFMEND_S3_DEADLINE"] = "20";
    S3Settings settings;
    ASSERT_TRUE(loadS3Settings(env.get(), &settings).isOk());
    EXPECT_EQ("eu-west-3", settings.region);
    EXPECT_TRUE(settings.pathStyle);  // an IP address has no bucket names
    EXPECT_EQ("token", settings.sessionToken);
    EXPECT_EQ(0, settings.retries);
    EXPECT_EQ(20, settings.deadline);
    env.values["AWS_REGION"] = "us-west-2";  // wins over AWS_DEFAULT_REGION
    ASSERT_TRUE(loadS3Settings(env.get(), &settings).isOk());
    EXPECT_EQ("us-west-2", settings.region);

    for (const auto &[name, value] :
         std::map<std::string, std::string>{{"NSFMEND_S3_RETRIES", "-1"},
                                            {"NSFMEND_S3_CONNECT_TIMEOUT", "ten"},
                                            {"NSFMEND_S3_LOW_SPEED_TIME", "99999"},
                                            {"NSFMEND_S3_PATH_STYLE", "yes"},
                                            {"AWS_REGION", "us east"}}) {
        Env bad = kKeys;
        bad.values[name] = value;
        const Result refused = loadS3Settings(bad.get(), &settings);
        EXPECT_FALSE(refused.isOk()) << name;
        EXPECT_NE(std::string::npos, refused.text().find(name)) << refused.text();
    }
    Env none;
    const Result refused = loadS3Settings(none.get(), &settings);
    EXPECT_NE(std::string::npos, refused.text().find("AWS_ACCESS_KEY_ID")) << refused.text();
}

class CredentialsFile : public ::testing::Test {
protected:
    std::string Write(const std::string &content, mode_t mode) {
        const std::string path = dir_ / "credentials";
        EXPECT_TRUE(WriteFile(path, content));
        EXPECT_EQ(0, chmod(path.c_str(), mode));
        return path;
    }
    TempDir dir_;
};

TEST_F(CredentialsFile, IsReadOnlyWhenItsOwnerAloneMayReadIt) {
    const std::string path = Write(
        "# ours\n[other]\naws_access_key_id = NOPE\n[default]\naws_access_key_id = AKFILE\n"
        "aws_secret_access_key = file-secret\r\naws_session_token=tok\n", 0600);
    Env env;
    env.values["NSFMEND_S3_CREDENTIALS"] = path;
    S3Settings settings;
    ASSERT_TRUE(loadS3Settings(env.get(), &settings).isOk());
    EXPECT_EQ("AKFILE", settings.accessKey);
    EXPECT_EQ("file-secret", settings.secretKey);
    EXPECT_EQ("tok", settings.sessionToken);
    env.values["AWS_PROFILE"] = "other";  // a section without a secret
    EXPECT_FALSE(loadS3Settings(env.get(), &settings).isOk());

    for (mode_t mode : {0640, 0604, 0660, 0602}) {
        ASSERT_EQ(0, chmod(path.c_str(), mode));
        const Result refused = readS3Credentials(path.c_str(), nullptr, &settings);
        EXPECT_EQ(EACCES, refused.error()) << std::oct << mode;
        EXPECT_NE(std::string::npos, refused.text().find("mode 0600")) << refused.text();
        EXPECT_EQ(std::string::npos, refused.text().find("file-secret"));
    }
    ASSERT_EQ(0, chmod(path.c_str(), 0400));
    EXPECT_TRUE(readS3Credentials(path.c_str(), nullptr, &settings).isOk());
    // A link is not followed: the file checked is the file read.
    ASSERT_EQ(0, symlink(path.c_str(), (dir_ / "link").c_str()));
    EXPECT_FALSE(readS3Credentials((dir_ / "link").c_str(), nullptr, &settings).isOk());
    EXPECT_EQ(ENOENT, readS3Credentials((dir_ / "none").c_str(), nullptr, &settings).error());
}

TEST_F(CredentialsFile, TheEnvironmentsKeysComeFirst) {
    Env env = kKeys;
    env.values["NSFMEND_S3_CREDENTIALS"] = Write("[default]\naws_access_key_id = AKFILE\n", 0644);
    S3Settings settings;
    ASSERT_TRUE(loadS3Settings(env.get(), &settings).isOk());
    EXPECT_EQ("AKID", settings.accessKey);
}

}  // namespace
