#include <string>
#include <vector>

#include "cli/cli_runner.h"

int main(int argc, char** argv) {
  return ferrotick::cli::CliMain(
      std::vector<std::string>(argv + 1, argv + argc));
}
