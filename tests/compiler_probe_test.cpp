#include <gtest/gtest.h>

#include "compiler_probes.hpp"

namespace {

// The same probes configure runs, here with the flags the tests are really built with: a
// workaround lost from the build fails here as well as at configure time.
TEST(CompilerProbes, InitializerListCopiesAreExact) {
  EXPECT_TRUE(initializerListCopiesAreExact());
}

}  // namespace
