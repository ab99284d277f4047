#include "pictures/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace pictures {
namespace {

// What the parent sees of each way a child can end.
TEST(ChildProcess, TellsHowTheChildEnded) {
  const struct {
    const char* name;
    void (*work)(int out);
    bool delivered;  // the parent got the child's four bytes
    const char* ended;
  } cases[] = {
      {"Finished", [](int out) { WriteValueToParent(out, uint32_t(0x12345678)); }, true, ""},
      {"Threw", [](int) { throw std::runtime_error("no"); }, false, "exit status 1"},
      {"Exited", [](int) { ::_exit(3); }, false, "exit status 3"},
      {"Crashed", [](int) { ::raise(SIGSEGV); }, false, "Segmentation fault"},
  };
  for (const auto& c : cases) {
    ChildProcess child(c.work, "test: ");
    uint32_t value = 0;
    EXPECT_EQ(child.ReadValue(value), c.delivered) << c.name;
    EXPECT_EQ(value, c.delivered ? 0x12345678u : 0u) << c.name;
    EXPECT_EQ(child.Finish(), c.ended) << c.name;
    EXPECT_EQ(child.Finish(), c.ended) << c.name;  // asking again changes nothing
  }
}

}  // namespace
}  // namespace pictures
