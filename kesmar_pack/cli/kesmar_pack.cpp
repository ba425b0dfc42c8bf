// kesmar-pack: packs, lists, verifies and extracts payloads and writes launchers; bare, it packs "finst" as the launcher's "-c" does.
#include <iostream>

#include "platform/host_console.h"
#include "kesmar_pack/cli/pack_tool.h"

int main(int argc, char** argv) {
  kesmar::UseConsoleText();
  return kesmar::RunKesmarPack(kesmar::HostArguments(argc, argv), std::cout, std::cerr,
                               kesmar::StderrIsTerminal());
}
