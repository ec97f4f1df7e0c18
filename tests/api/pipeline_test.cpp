// The answer classification and Error::describe, without network.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

#include "api/decode.hpp"
#include "api/pipeline.hpp"

namespace irvelo::api {
namespace {

using json = nlohmann::json;

Result<Empty> ignoring(int status, const std::string& body, std::optional<std::string> transport = std::nullopt) {
  return classify<Empty>(status, body, transport, &ignore_answer);
}

Result<Me> needing_object(int status, const std::string& body) {
  return classify<Me>(status, body, std::nullopt, &parse_me);
}

TEST(Classify, TransportFailureIsNetwork) {
  const auto r = ignoring(200, "{}", std::string("Could not connect: Connection refused"));
  ASSERT_TRUE(r.error.has_value());
  EXPECT_FALSE(r.value.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Network);
  EXPECT_EQ(r.error->status, 0);
  EXPECT_EQ(r.error->code, "");
  EXPECT_EQ(r.error->message, "Could not connect: Connection refused");
  EXPECT_EQ(ignoring(0, "", std::string()).error->message, "");
}

TEST(Classify, Unauthorized401IgnoresTheBody) {
  const auto r = ignoring(401, R"({"error": {"code": "FORBIDDEN", "message": "No key"}})");
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Unauthenticated);
  EXPECT_EQ(r.error->status, 401);
  EXPECT_EQ(r.error->code, "UNAUTHENTICATED");
  EXPECT_EQ(r.error->message, "");
  EXPECT_TRUE(r.error->field_errors.empty());
}

TEST(Classify, ErrorEnvelopeGivesApi) {
  const auto r = ignoring(422, R"({"error": {"code": "VALIDATION", "message": "Bad",
      "fieldErrors": {"tagIds": ["need one"], "projectId": ["required", "unknown"], "empty": [], "none": null}}})");
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::Api);
  EXPECT_EQ(r.error->status, 422);
  EXPECT_EQ(r.error->code, "VALIDATION");
  EXPECT_EQ(r.error->message, "Bad");
  ASSERT_EQ(r.error->field_errors.size(), 2u);
  EXPECT_EQ(r.error->field_errors.at("projectId"), (std::vector<std::string>{"required", "unknown"}));
  EXPECT_EQ(r.error->field_errors.at("tagIds"), (std::vector<std::string>{"need one"}));
  EXPECT_EQ(r.error->describe(), "Bad: project, tags");
}

TEST(Classify, SingleStringFieldErrorCountsAsOne) {
  const auto r = ignoring(422, R"({"error": {"code": "VALIDATION", "message": "M", "fieldErrors": {"taskId": "x"}}})");
  ASSERT_EQ(r.error->kind, Error::Kind::Api);
  EXPECT_EQ(r.error->field_errors.at("taskId"), (std::vector<std::string>{"x"}));
}

TEST(Classify, FieldErrorsThatAreNotAnObjectAreIgnored) {
  const auto r = ignoring(409, R"({"error": {"code": "C", "message": "M", "fieldErrors": ["x"]}})");
  ASSERT_EQ(r.error->kind, Error::Kind::Api);
  EXPECT_TRUE(r.error->field_errors.empty());
  EXPECT_EQ(r.error->describe(), "M");
}

TEST(Classify, UnusableErrorBodiesGiveHttp) {
  const char* bodies[] = {
      "<html><body>Internal Server Error</body></html>",
      "",
      "null",
      "[]",
      R"({"message": "no envelope"})",
      R"({"error": "boom"})",
      R"({"error": {"code": "C"}})",
      R"({"error": {"message": "M"}})",
      R"({"error": {"code": 5, "message": "M"}})",
      R"({"error": {"code": "C", "message": null}})",
      R"({"error": {"code": "C", "message": "M", "fieldErrors": {"projectId": ["ok", 3]}}})",
  };
  for (const char* body : bodies) {
    const auto r = ignoring(500, body);
    ASSERT_TRUE(r.error.has_value()) << body;
    EXPECT_EQ(r.error->kind, Error::Kind::Http) << body;
    EXPECT_EQ(r.error->status, 500) << body;
    EXPECT_EQ(r.error->code, "") << body;
    EXPECT_EQ(r.error->message, "") << body;
    EXPECT_TRUE(r.error->field_errors.empty()) << body;
  }
}

TEST(Classify, StatusesOutside2xxAreErrors) {
  for (int status : {0, 100, 199, 300, 304, 400, 403, 404, 503}) {
    const auto r = ignoring(status, "{}");
    ASSERT_TRUE(r.error.has_value()) << status;
    EXPECT_EQ(r.error->kind, Error::Kind::Http) << status;
    EXPECT_EQ(r.error->status, status);
  }
}

TEST(Classify, SuccessfulAnswers) {
  for (int status : {200, 201, 204, 299}) {
    EXPECT_TRUE(ignoring(status, "").ok()) << status;
    EXPECT_TRUE(ignoring(status, R"({"anything": [1, 2]})").ok()) << status;
  }
  const auto me = needing_object(200, R"({"user": {"id": "u", "email": "e"}, "workspaces": []})");
  ASSERT_TRUE(me.ok());
  EXPECT_FALSE(me.error.has_value());
  EXPECT_EQ(me.value->user.id, "u");
}

TEST(Classify, EmptyBodyFailsADecoderThatNeedsAnObject) {
  const auto r = needing_object(204, "");
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(r.error->status, 204);
  EXPECT_EQ(r.error->code, "");
  EXPECT_EQ(r.error->message, "");
}

TEST(Classify, NonJsonSuccessIsBadResponseEvenWhenIgnored) {
  for (const char* body : {"not json", "{", "<html></html>", "\xff\xfe"}) {
    const auto ignored = ignoring(200, body);
    ASSERT_TRUE(ignored.error.has_value()) << body;
    EXPECT_EQ(ignored.error->kind, Error::Kind::BadResponse);
    EXPECT_EQ(ignored.error->status, 200);
    EXPECT_EQ(needing_object(200, body).error->kind, Error::Kind::BadResponse);
  }
}

TEST(Classify, AnyRaiseOfTheDecoderIsBadResponse) {
  const auto r = classify<int>(201, "{}", std::nullopt, [](const json&) -> int { throw std::logic_error("x"); });
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(r.error->status, 201);
  const auto odd = classify<int>(200, "{}", std::nullopt, [](const json&) -> int { throw 42; });
  EXPECT_EQ(odd.error->kind, Error::Kind::BadResponse);
}

TEST(Classify, HealthNameCheck) {
  const auto other = classify<Health>(200, R"({"ok": true, "name": "other"})", std::nullopt, &parse_irvelo_health);
  ASSERT_TRUE(other.error.has_value());
  EXPECT_EQ(other.error->kind, Error::Kind::BadResponse);
  EXPECT_EQ(other.error->describe(), "That address is not an Irvelo server.");
  EXPECT_TRUE(classify<Health>(200, R"({"ok": true, "name": "irvelo"})", std::nullopt, &parse_irvelo_health).ok());
}

// ---- Error::describe ----------------------------------------------------------

Error error_of(Error::Kind kind, int status = 0, std::string message = {}) {
  Error e;
  e.kind = kind;
  e.status = status;
  e.message = std::move(message);
  return e;
}

TEST(ErrorDescribe, ByKind) {
  EXPECT_EQ(error_of(Error::Kind::Unauthenticated, 401).describe(), "Your session expired. Sign in again.");
  EXPECT_EQ(error_of(Error::Kind::Api, 409, "Timer already running").describe(), "Timer already running");
  EXPECT_EQ(error_of(Error::Kind::Http, 500).describe(), "The server answered with HTTP 500.");
  EXPECT_EQ(error_of(Error::Kind::Http, 0).describe(), "The server answered with HTTP 0.");
  EXPECT_EQ(error_of(Error::Kind::Network, 0, "Connection refused").describe(), "Connection refused");
  EXPECT_EQ(error_of(Error::Kind::Network).describe(), "");
  EXPECT_EQ(error_of(Error::Kind::BadResponse, 200).describe(), "That address is not an Irvelo server.");
}

TEST(ErrorDescribe, FieldLabelsInKeyOrder) {
  Error e = error_of(Error::Kind::Api, 422, "Validation failed");
  e.field_errors["taskId"] = {"required"};
  e.field_errors["projectId"] = {"required"};
  EXPECT_EQ(e.describe(), "Validation failed: project, task");
  e.field_errors["tagIds"] = {"one"};
  e.field_errors["description"] = {"blank"};
  e.field_errors["Zeta"] = {"z"};
  EXPECT_EQ(e.describe(), "Validation failed: Zeta, description, project, tags, task");
}

TEST(ErrorDescribe, FieldErrorsOnlyCountForApi) {
  Error e = error_of(Error::Kind::Http, 422, "ignored");
  e.field_errors["projectId"] = {"required"};
  EXPECT_EQ(e.describe(), "The server answered with HTTP 422.");
}

}  // namespace
}  // namespace irvelo::api
