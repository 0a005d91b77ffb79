// Runs the whole program in-process on a command line, capturing what it
// prints: shared by the driver's tests and the long options' tests.
#ifndef QUELVO_RUN_SUPPORT_H
#define QUELVO_RUN_SUPPORT_H

#include <string>
#include <vector>

#include "driver.h"
#include "test_support.h"

struct RunResult {
  int status;
  std::string output;
};

// args are the words after the program name.
inline RunResult RunWith(std::vector<std::string> args) {
  args.insert(args.begin(), "quelvo");
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  RunResult r;
  r.output = CaptureOutput([&] {
    r.status = RunQuelvo(static_cast<int>(args.size()), argv.data());
  });
  return r;
}

#endif
