// kesmar-pack: packs, lists, verifies and extracts payloads on Linux; bare, it packs "finst" as the launcher's "-c" does.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/pack_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return kesmar::RunKesmarPack(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
