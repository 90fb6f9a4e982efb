// Where the configuration server is: built in, or named by the environment
// (Linux's environment can hold an empty value, which switches the download
// off; Windows' cannot).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "http/ConfigDownload.h"

namespace quorvin {
namespace {

TEST(ConfigServerOrigin, TheEnvironmentOverridesTheBuiltInOrigin) {
    const char* before = std::getenv("QUORVIN_CONFIG_ORIGIN");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("QUORVIN_CONFIG_ORIGIN", "https://config.example:8443", 1);
    EXPECT_EQ(ConfigServerOrigin(), "https://config.example:8443");
    // Set but empty: the deployer switched the download off.
    ::setenv("QUORVIN_CONFIG_ORIGIN", "", 1);
    EXPECT_EQ(ConfigServerOrigin(), "");
    ::unsetenv("QUORVIN_CONFIG_ORIGIN");
    EXPECT_EQ(ConfigServerOrigin(), QUORVIN_BUILT_CONFIG_ORIGIN);
    if (before != nullptr) ::setenv("QUORVIN_CONFIG_ORIGIN", saved.c_str(), 1);
}

}  // namespace
}  // namespace quorvin
