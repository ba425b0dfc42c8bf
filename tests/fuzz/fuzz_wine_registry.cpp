// Fuzz target: Wine's registry files as try reads them after a run, and the value it sets in one before a run.
#include <cstdlib>
#include <string>

#include "kesmar_pack/try/wine/wine_registry.h"

using namespace kesmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  RegistryTree tree;
  ParseWineRegistry(text, "HKCU", &tree);
  // A tree compared with itself holds no change; every key is under its root.
  if (!CompareRegistry(tree, tree).empty()) abort();
  for (const auto& key : tree) {
    if (key.first.compare(0, 4, "HKCU") != 0) abort();
    for (const auto& value : key.second) ShownRegistryData(value.second);
  }
  // A value set in the text is read back as set, whatever else the text holds.
  RegistryTree after;
  ParseWineRegistry(SetWineRegistryValue(text, "Software\\Wine\\Drivers", "Graphics", "\"null\""), "HKCU", &after);
  const auto key = after.find("HKCU\\Software\\Wine\\Drivers");
  if (key == after.end()) {
    // Only a key of another letter case may hold it.
    bool found = false;
    for (const auto& other : after) {
      const auto value = other.second.find("Graphics");
      found = found || (value != other.second.end() && value->second == "\"null\"");
    }
    if (!found) abort();
  } else {
    const auto value = key->second.find("Graphics");
    if (value == key->second.end() || value->second != "\"null\"") abort();
  }
  return 0;
}
