// Parameterized tests here take cases that have a `name`. Printed through this, a case is
// its name: test listings (and so ctest's test names) and failure messages stay short
// instead of showing the case's bytes. A test file brings it in with
// `using test_support::PrintTo;` beside its cases.
#pragma once

#include <ostream>

namespace test_support {

template <typename Case>
  requires requires(const Case& c, std::ostream& os) { os << c.name; }
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

}  // namespace test_support
