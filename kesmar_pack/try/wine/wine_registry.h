// Wine's registry files (system.reg, user.reg, userdef.reg): read into keys and values, compared, and edited.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kesmar {

// A key's values: the name as a person reads it ("(default)" for the
// unnamed one) to the data as the file writes it after "=" ("text" in
// quotes, dword:0000002a, hex(2):..., continuation lines joined).
using RegistryValues = std::map<std::string, std::string>;
// Keys by their full path as a person reads it: HKLM\Software\Wine.
using RegistryTree = std::map<std::string, RegistryValues>;

// The roots that Wine's three files hold.
constexpr char kMachineRoot[] = "HKLM";      // system.reg
constexpr char kUserRoot[] = "HKCU";         // user.reg
constexpr char kDefaultUserRoot[] = "HKU\\.DEFAULT";  // userdef.reg

// Adds the keys of one file's text to `tree`, each under `root`. Lines the
// format does not know are passed over; so is a file cut short.
void ParseWineRegistry(const std::string& text, const std::string& root, RegistryTree* tree);

// One value that differs: `before` empty when it was added, `after` empty
// when it was removed.
struct RegistryValueChange {
  std::string key;
  std::string name;
  std::string before;
  std::string after;
};

struct RegistryChanges {
  std::vector<std::string> keysAdded;
  std::vector<std::string> keysRemoved;
  // Values of added keys count as added, those of removed keys as removed.
  std::vector<RegistryValueChange> values;
  bool empty() const { return keysAdded.empty() && keysRemoved.empty() && values.empty(); }
};

// What differs between two trees, in key order.
RegistryChanges CompareRegistry(const RegistryTree& before, const RegistryTree& after);

// `text` (a registry file) with the value `name` of `key` (relative to the
// file's root, written as a person reads it: Software\Wine\Drivers) set to
// `data` (as the file writes it: "null"); the key is added when missing.
// For the prefix's own settings, while no wineserver runs.
std::string SetWineRegistryValue(const std::string& text, const std::string& key, const std::string& name,
                                 const std::string& data);

// The data of a value as a person reads it: a string's text without its
// quotes and escapes; anything else as the file writes it.
std::string ShownRegistryData(const std::string& data);

}  // namespace kesmar
