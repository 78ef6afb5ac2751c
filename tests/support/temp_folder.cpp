#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace testsupport {

TempFolder::TempFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  Make(info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name() : "test", {});
}

}  // namespace testsupport
