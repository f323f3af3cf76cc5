#include "app/access.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AccessTest, OperationsThatChangeThingsNeedAnAdministrator) {
  struct Case {
    ipp_op_t op;
    Access access;
  };
  const Case cases[] = {
      {IPP_OP_PRINT_JOB, Access::OPEN},
      {IPP_OP_CREATE_JOB, Access::OPEN},
      {IPP_OP_SEND_DOCUMENT, Access::OPEN},
      {IPP_OP_GET_JOBS, Access::OPEN},
      {IPP_OP_GET_PRINTER_ATTRIBUTES, Access::OPEN},
      {IPP_OP_GET_NOTIFICATIONS, Access::OPEN},
      {IPP_OP_CANCEL_JOB, Access::OWN_JOB},
      {IPP_OP_RELEASE_JOB, Access::OWN_JOB},
      // Both go through PAPPL's check for printing, not its administration one.
      {IPP_OP_DISABLE_PRINTER, Access::ADMIN},
      {IPP_OP_ENABLE_PRINTER, Access::ADMIN},
      {IPP_OP_PAUSE_PRINTER, Access::ADMIN},
      {IPP_OP_SET_PRINTER_ATTRIBUTES, Access::ADMIN},
      {IPP_OP_CANCEL_JOBS, Access::ADMIN},
      {IPP_OP_CANCEL_MY_JOBS, Access::ADMIN},
      {IPP_OP_CREATE_PRINTER, Access::ADMIN},
      {IPP_OP_DELETE_PRINTER, Access::ADMIN},
      {IPP_OP_SHUTDOWN_ALL_PRINTERS, Access::ADMIN},
      {IPP_OP_SET_SYSTEM_ATTRIBUTES, Access::ADMIN},
      {IPP_OP_CUPS_ADD_MODIFY_PRINTER, Access::ADMIN},  // unknown to the server
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ippOpString(c.op));
    EXPECT_EQ(operation_access(c.op), c.access);
  }
}

TEST(AccessTest, DecidesByCredentialsOnlyForAdministration) {
  struct Case {
    bool administrative;
    bool can_authenticate;
    Credentials credentials;
    http_status_t status;
  };
  const Case cases[] = {
      {false, false, Credentials::NONE, HTTP_STATUS_CONTINUE},
      {false, true, Credentials::WRONG, HTTP_STATUS_CONTINUE},
      {true, false, Credentials::NONE, HTTP_STATUS_FORBIDDEN},
      {true, false, Credentials::ADMINISTRATOR, HTTP_STATUS_FORBIDDEN},
      {true, true, Credentials::NONE, HTTP_STATUS_UNAUTHORIZED},
      {true, true, Credentials::WRONG, HTTP_STATUS_UNAUTHORIZED},
      {true, true, Credentials::NOT_ADMINISTRATOR, HTTP_STATUS_FORBIDDEN},
      {true, true, Credentials::ADMINISTRATOR, HTTP_STATUS_CONTINUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.administrative) + std::to_string(c.can_authenticate) +
                 std::to_string(static_cast<int>(c.credentials)));
    EXPECT_EQ(access_decision(c.administrative, c.can_authenticate, c.credentials), c.status);
  }
}

TEST(AccessTest, SplitsBasicCredentials) {
  struct Case {
    const char* header;
    const char* user;  // null: refused
    const char* password;
  };
  const Case cases[] = {
      {"Basic cmF2b2FkbWluOnNlY3JldA==", "ravoadmin", "secret"},   // ravoadmin:secret
      {"basic  cmF2b2FkbWluOnNlY3JldA==", "ravoadmin", "secret"},  // scheme in any case
      {"Basic cmF2bzphOmI=", "ravo", "a:b"},                       // ravo:a:b
      {"Basic cmF2bzo=", "ravo", ""},                              // ravo:
      {"Basic OnNlY3JldA==", nullptr, nullptr},                    // :secret
      {"Basic cmF2bw==", nullptr, nullptr},                        // ravo
      {"Bearer cmF2b2FkbWluOnNlY3JldA==", nullptr, nullptr},
      {"Basic", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    char user[16] = "";
    char password[16] = "";
    const bool parsed =
        parse_basic_credentials(c.header, user, sizeof user, password, sizeof password);
    ASSERT_EQ(parsed, c.user != nullptr);
    if (!parsed) continue;
    EXPECT_STREQ(user, c.user);
    EXPECT_STREQ(password, c.password);
  }
}

TEST(AccessTest, RefusesCredentialsThatDoNotFit) {
  char user[4];
  char password[64];
  // ravoadmin:secret, with room for "rav" only
  EXPECT_FALSE(parse_basic_credentials("Basic cmF2b2FkbWluOnNlY3JldA==", user, sizeof user,
                                       password, sizeof password));
  const std::string huge = "Basic " + std::string(4000, 'Q');
  EXPECT_FALSE(parse_basic_credentials(huge.c_str(), user, sizeof user, password, sizeof password));
}

TEST(AccessTest, RootsServerAuthenticatesThroughItsOwnServiceUnlessTold) {
  EXPECT_STREQ(effective_auth_service(nullptr, 0), DEFAULT_AUTH_SERVICE);
  EXPECT_EQ(effective_auth_service(nullptr, 1000), nullptr);
  EXPECT_STREQ(effective_auth_service("login", 0), "login");
  EXPECT_STREQ(effective_auth_service("login", 1000), "login");
  EXPECT_EQ(effective_auth_service("none", 0), nullptr);
  EXPECT_EQ(effective_auth_service("", 0), nullptr);
}

TEST(AccessTest, RootIsAnAdministratorAndStrangersAreNot) {
  EXPECT_TRUE(is_administrator("root", DEFAULT_ADMIN_GROUP));
  EXPECT_TRUE(is_administrator("root", "no-such-group"));
  EXPECT_FALSE(is_administrator("no-such-user", "root"));
  EXPECT_FALSE(is_administrator("nobody", "no-such-group"));
  EXPECT_FALSE(is_administrator("nobody", ""));
  EXPECT_FALSE(is_administrator("nobody", "root"));
}

}  // namespace
