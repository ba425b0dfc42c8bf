// Fuzz target: ExtractPayload over the fakes with arbitrary resource bytes; whatever it made is removed after.
#include <cstdlib>

#include "launcher/cleanup_list.h"
#include "launcher/extract_payload.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_font_api.h"
#include "tests/fakes/fake_resource_api.h"
#include "tests/fakes/fake_security_api.h"
#include "tests/fuzz/fuzz_input.h"

using namespace kesmar;
using namespace kesmar::testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> container = fuzzing::CappedContainer(data, size);
  const std::string temp = "C:\\Temp";
  FakeFileSystem fs;
  FakeFontApi fonts;
  FakeResourceApi resources;
  FakeSecurityApi security;
  fs.AddFolder(temp);
  fs.AddFolder("C:\\Windows\\Fonts");
  resources.SetPayload(std::string(container.begin(), container.end()));
  Platform platform;
  platform.files = &fs;
  platform.fonts = &fonts;
  platform.resources = &resources;
  platform.security = &security;

  ResetFolderCounter();
  std::string setupPath;
  std::string workFolder;
  bool extracted = false;
  {
    CleanupList list(fs);
    extracted = ExtractPayload(platform, &setupPath, &workFolder, list);
    // A refused payload leaves nothing behind and nothing listed.
    if (!extracted && workFolder.empty() && (list.FileCount() != 0 || !fs.Children(temp).empty()))
      abort();
    // Every file written lies directly inside the folder.
    for (const std::string& path : fs.Children(workFolder)) {
      if (fs.IsFolder(path)) abort();
    }
    if (!setupPath.empty() && setupPath != workFolder + "\\KesmarSetup.exe") abort();
  }
  // The list's one removal attempt at destruction takes everything away.
  if (!fs.Children(temp).empty()) abort();
  if (fonts.OpenItemLists() != 0) abort();
  (void)extracted;
  return 0;
}
