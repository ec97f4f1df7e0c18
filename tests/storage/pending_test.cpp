#include <gtest/gtest.h>

#include <string>

#include "storage/pending.hpp"
#include "storage_support.hpp"

namespace irvelo {
namespace {

using test::exists;
using test::join;
using test::LogCapture;
using test::mode_of;
using test::read_file;
using test::write_file;

PendingAction sample() {
  PendingAction action;
  action.kind = PendingAction::Kind::Discard;
  action.server = "https://irvelo.example";
  action.workspace_id = "ws-1";
  action.entry_id = "te-9";
  action.entry_start = 1765350000;
  action.requested_at = 1765371600;
  action.reason = PendingAction::Reason::Sleep;
  action.cause = PendingAction::Cause::Unavailable;
  action.description = "Angebot \"schreiben\" \u2014 R&D <x>\n";
  return action;
}

std::string pending_file() {
  return join(state_dir(), "pending.json");
}

TEST(PendingFile, KeepsEveryFieldPrivatelyAndGoesWhenRemoved) {
  ASSERT_TRUE(PendingFile::save(sample()));
  EXPECT_EQ(mode_of(pending_file()), 0600);
  EXPECT_EQ(PendingFile::load(), sample());

  PendingAction stop = sample();
  stop.kind = PendingAction::Kind::Stop;
  stop.reason = PendingAction::Reason::Idle;
  stop.cause = PendingAction::Cause::Network;
  ASSERT_TRUE(PendingFile::save(stop));
  EXPECT_EQ(PendingFile::load(), stop) << "a second save replaces the first";

  PendingFile::remove();
  EXPECT_FALSE(exists(pending_file()));
  EXPECT_FALSE(PendingFile::load().has_value());
}

TEST(PendingFile, WhatCannotBeReadIsIgnoredAndSaidOnce) {
  const std::string whole = pending_to_json(sample());
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"not JSON", "{\"kind\": \"stop\""},
      {"an array", "[1, 2]"},
      {"cut short", whole.substr(0, whole.size() / 2)},
      {"unknown kind",
       R"({"kind":"pause","server":"s","workspaceId":"w","entryId":"e","entryStart":1,"requestedAt":2,"description":""})"},
      {"no entry", R"({"kind":"stop","server":"s","workspaceId":"w","entryStart":1,"requestedAt":2,"description":""})"},
      {"empty server",
       R"({"kind":"stop","server":"","workspaceId":"w","entryId":"e","entryStart":1,"requestedAt":2,"description":""})"},
      {"instant as text",
       R"({"kind":"stop","server":"s","workspaceId":"w","entryId":"e","entryStart":"1","requestedAt":2,"description":""})"},
      {"negative instant",
       R"({"kind":"stop","server":"s","workspaceId":"w","entryId":"e","entryStart":1,"requestedAt":-2,"description":""})"},
  };
  for (const auto& c : cases) EXPECT_FALSE(pending_from_json(c.text).has_value()) << c.what;

  // Unknown words for the reason and cause only change what is said.
  const auto lenient = pending_from_json(
      R"({"kind":"stop","server":"s","workspaceId":"w","entryId":"e","entryStart":1,"requestedAt":2,"description":"","reason":"?","cause":7})");
  ASSERT_TRUE(lenient.has_value());
  EXPECT_EQ(lenient->reason, PendingAction::Reason::User);
  EXPECT_EQ(lenient->cause, PendingAction::Cause::Network);

  g_mkdir_with_parents(state_dir().c_str(), 0700);
  LogCapture log;
  write_file(pending_file(), "\xff\xfe garbage");
  EXPECT_FALSE(PendingFile::load().has_value());
  EXPECT_FALSE(PendingFile::load().has_value());
  EXPECT_EQ(log.containing("pending").size(), 1u) << "reported once, not on every poll";
  EXPECT_TRUE(read_file(pending_file()).has_value()) << "left for the user to look at";
}

}  // namespace
}  // namespace irvelo
