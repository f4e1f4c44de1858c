// The main of every test binary. The library keeps process-wide state (one
// logon per process, caches, settings read once), so the tests are written to
// run one per process, as ctest runs them. A run that would execute more than
// one test stops before the first with a message, instead of reporting
// failures that the shared state causes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

class OneTestPerProcess : public testing::EmptyTestEventListener {
 public:
  explicit OneTestPerProcess(const char *program) : program_(program) {}

  void OnTestProgramStart(const testing::UnitTest &unit) override {
    if (unit.test_to_run_count() <= 1) return;
    std::fprintf(stderr,
                 "%s: %d tests selected, but each test must run in a process of its own "
                 "(the library keeps process-wide state).\n"
                 "Run them through ctest (ctest --test-dir BUILD -R NAME), or pick one test "
                 "with --gtest_filter=Suite.Name (--gtest_list_tests lists them).\n",
                 program_, unit.test_to_run_count());
    std::fflush(stderr);
    std::_Exit(2);
  }

 private:
  const char *program_;
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new OneTestPerProcess(argv[0]));
  return RUN_ALL_TESTS();
}
