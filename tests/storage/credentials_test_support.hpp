#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/settings.hpp"
#include "storage_support.hpp"

namespace irvelo::test {

inline std::string fallback_file() {
  return join(config_dir(), "api-key");
}

// Captures the log of the whole test and, at its end, checks that no message,
// at any level and from any domain, holds the text of a key the test used.
class CredentialsTest : public ::testing::Test {
 protected:
  CredentialsTest() { reset_config_home(); }

  std::string key() {
    keys_.push_back(unique_key());
    return keys_.back();
  }

  void TearDown() override {
    ASSERT_FALSE(keys_.empty()) << "a credentials test should use key()";
    for (const auto& k : keys_) {
      for (const auto& record : logs_.containing(k)) {
        ADD_FAILURE() << "a log message holds the API key: [" << record.domain << "] " << record.message;
      }
    }
  }

  LogCapture logs_;
  std::vector<std::string> keys_;
};

}  // namespace irvelo::test
