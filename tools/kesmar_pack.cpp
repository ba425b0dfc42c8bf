// kesmar-pack: packs "finst" of the current folder into "datakes.lzma" on Linux, as the launcher's "-c" does.
#include "builder/build_payload.h"

int main() {
  auto files = kesmar::CreateNativeFileSystem();
  return kesmar::BuildPayload(*files) ? 0 : 1;
}
