// kesmar-pack try where there is no Wine to run a launcher under: the Windows build links this in place of try's POSIX half.
#include "kesmar_pack/commands/pack_command.h"
#include "kesmar_pack/try/try_command.h"

namespace kesmar {

int TryLauncher(const TryRequest& request, std::ostream&, std::ostream& err) {
  err << "kesmar-pack try: runs on Linux only, under Wine; on Windows, start " << request.launcher
      << " itself\n";
  return kToolFailed;
}

}  // namespace kesmar
