// How the program reaches an object store: the location's URL, and the
// store, the credentials and the limits, all from the environment as the
// tools of that ecosystem take them. Secrets never come from the command
// line and never go into a message.
//
//   AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN
//                       the credentials (a session token is optional)
//   NSFMEND_S3_CREDENTIALS
//                       else a file holding them, readable by its owner only
//                       (mode 0600 or stricter, owned by this user): lines
//                       "aws_access_key_id = ...", "aws_secret_access_key =
//                       ...", "aws_session_token = ..." in its [default]
//                       section (or the one AWS_PROFILE names), as the
//                       ecosystem's credentials file has them
//   AWS_REGION, AWS_DEFAULT_REGION
//                       the region signed for (default us-east-1)
//   AWS_ENDPOINT_URL    the store (default https://s3.REGION.amazonaws.com);
//                       http:// only where it says so
//   AWS_CA_BUNDLE       the certificates TLS is verified against
//   NSFMEND_S3_PATH_STYLE=1
//                       https://HOST/BUCKET/KEY instead of
//                       https://BUCKET.HOST/KEY; an endpoint given as an IP
//                       address always has it
//   NSFMEND_S3_CONNECT_TIMEOUT   seconds to connect (10)
//   NSFMEND_S3_LOW_SPEED_TIME    seconds a transfer may stay below 1 KiB/s (30)
//   NSFMEND_S3_REQUEST_TIMEOUT   seconds one request may take in all (900)
//   NSFMEND_S3_RETRIES           resends of a request that met a 5xx answer
//                                or a dropped connection (4)
//   NSFMEND_S3_DEADLINE          seconds one operation may take with all its
//                                resends (1800)
#ifndef NSFMEND_STORAGE_S3_CONFIG_H
#define NSFMEND_STORAGE_S3_CONFIG_H

#include <functional>
#include <string>
#include <string_view>

#include "support/result.h"

// The refusals of a location or a setting, as formats; the agent's message
// buffer may hold each, the command line prints them.
#define NSFMEND_S3_NOT_A_LOCATION "Not an object store location (%s; s3://BUCKET/PREFIX/): %s"
#define NSFMEND_S3_NOT_AN_ENDPOINT "AWS_ENDPOINT_URL is not a store's address (%s): %s"
#define NSFMEND_S3_NOT_A_NUMBER "%s must be a whole number from 0 to 86400, not %s"
#define NSFMEND_S3_NOT_A_SWITCH "%s must be 0 or 1, not %s"
#define NSFMEND_S3_NOT_A_REGION "%s is not a region's name: %s"
#define NSFMEND_S3_NO_CREDENTIALS                                                            \
    "No credentials for the object store: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, " \
    "or NSFMEND_S3_CREDENTIALS to a file holding them"
#define NSFMEND_S3_CREDENTIALS_UNREADABLE "Cannot read the credentials file %s, Reason=%s"
#define NSFMEND_S3_CREDENTIALS_EXPOSED                                                    \
    "The credentials file %s must be a regular file of this user's that only its owner " \
    "may read (mode 0600); it is mode %04o of user %u"
#define NSFMEND_S3_OLD_LIBCURL \
    "libcurl %s is too old for object stores: 7.86.0 or later signs what it is given"
#define NSFMEND_S3_CREDENTIALS_EMPTY \
    "The credentials file %s has no [%s] section with aws_access_key_id and aws_secret_access_key"

namespace nsfmend {

// s3://BUCKET/PREFIX as its parts.
struct S3Location {
    std::string bucket;
    std::string prefix;  // as given: "" or what follows "BUCKET/"
};

// Parses an s3:// URL. The bucket must be a name as stores take it: 3 to 63
// lowercase letters, digits, "." and "-", starting and ending with a letter
// or digit. The prefix may be empty; it holds no "//" and no "." or ".."
// part, which a store would take as a different key than a reader expects.
Result parseS3Location(std::string_view text, S3Location *location);

// Where the store is and how to talk to it.
struct S3Endpoint {
    std::string scheme;  // "https" or "http"
    std::string host;    // a name, an IPv4 address, or [an IPv6 address]
    std::string port;    // empty: the scheme's own
    bool ipAddress = false;
};

// Parses AWS_ENDPOINT_URL's value: scheme://host[:port][/]. No user or
// password in it, no path, no query. A link-local address (a cloud's
// metadata service lives there) is refused.
Result parseS3Endpoint(std::string_view text, S3Endpoint *endpoint);

struct S3Settings {
    S3Endpoint endpoint;
    bool pathStyle = false;
    std::string region;
    std::string accessKey;
    std::string secretKey;
    std::string sessionToken;
    std::string caBundle;
    long connectTimeout = 10;
    long lowSpeedTime = 30;
    long requestTimeout = 900;
    long retries = 4;
    long deadline = 1800;
};

// An environment: a variable's value, or null when it is not set.
using Environment = std::function<const char *(const char *)>;
// The process's own.
Environment processEnvironment();

// The settings from env; a refusal names the variable or file at fault,
// never a secret.
Result loadS3Settings(const Environment &env, S3Settings *settings);

// Reads the credentials file at path into settings: refused unless it is a
// regular file of this user's that no one else may read or write.
Result readS3Credentials(const char *path, const char *profile, S3Settings *settings);

}  // namespace nsfmend

#endif
