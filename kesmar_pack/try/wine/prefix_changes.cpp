// Comparing drive_c and the registry before and after a run, and picking out the churn, the temporary folder and the fonts.
#include "kesmar_pack/try/wine/prefix_changes.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace kesmar {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Keys that Wine writes afresh from the host's devices whenever it starts,
// and its debugger's, lower case: what differs under them says nothing about
// the program run.
const char* const kHardwareKeys[] = {
    "hklm\\system\\currentcontrolset\\control\\class\\",
    "hklm\\system\\controlset001\\control\\class\\",
    "hklm\\system\\currentcontrolset\\enum\\",
    "hklm\\system\\controlset001\\enum\\",
    "hklm\\system\\currentcontrolset\\control\\deviceclasses\\",
    "hklm\\system\\controlset001\\control\\deviceclasses\\",
    "hklm\\software\\microsoft\\windows nt\\currentversion\\networkcards\\",
    // Wine's debugger keeps its settings here, and writes them when it first starts for a crash.
    "hkcu\\software\\wine\\winedbg\\",
};

bool UnderHardwareKey(const std::string& key) {
  const std::string lower = Lower(key) + "\\";
  for (const char* prefix : kHardwareKeys) {
    if (StartsWith(lower, prefix)) return true;
  }
  return false;
}

template <typename T, typename Drop>
void DropIf(std::vector<T>* items, Drop drop) {
  items->erase(std::remove_if(items->begin(), items->end(), drop), items->end());
}

// The entries of win.ini's [fonts] section, by lower-case name.
std::map<std::string, std::string> ProfileFonts(const std::string& text) {
  std::map<std::string, std::string> entries;
  std::istringstream lines(text);
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    if (line[first] == '[') {
      inside = Lower(line.substr(first)).compare(0, 7, "[fonts]") == 0;
      continue;
    }
    const size_t equals = line.find('=');
    if (inside && equals != std::string::npos) entries[Lower(line.substr(first, equals - first))] = line.substr(first);
  }
  return entries;
}

bool InFontFolder(const std::string& path) {
  const std::string lower = Lower(path);
  if (StartsWith(lower, "windows/fonts/")) return true;
  // users/<name>/appdata/local/microsoft/windows/fonts/<file>
  if (!StartsWith(lower, "users/")) return false;
  const size_t slash = lower.find('/', 6);
  return slash != std::string::npos && StartsWith(lower.substr(slash), "/appdata/local/microsoft/windows/fonts/");
}

}  // namespace

FileChanges CompareFiles(const FileTree& before, const FileTree& after, const SameContent& sameContent) {
  FileChanges changes;
  for (const auto& entry : before) {
    if (after.count(entry.first) == 0) changes.removed.push_back(entry.first + (entry.second.type == 'd' ? "/" : ""));
  }
  for (const auto& entry : after) {
    const auto old = before.find(entry.first);
    if (old == before.end()) {
      changes.created.push_back(entry.first + (entry.second.type == 'd' ? "/" : ""));
      continue;
    }
    const FileState& a = old->second;
    const FileState& b = entry.second;
    if (a.type != b.type) {
      changes.changed.push_back(entry.first);
    } else if (a.type == 'l' && a.target != b.target) {
      changes.changed.push_back(entry.first);
    } else if (a.type == 'f' && (a.size != b.size || (a.modified != b.modified && !sameContent(entry.first)))) {
      changes.changed.push_back(entry.first);
    }
  }
  return changes;
}

WineChurn WineChurn::FromChanges(const FileChanges& files, const RegistryChanges& registry) {
  WineChurn churn;
  for (const auto* list : {&files.created, &files.changed, &files.removed}) {
    churn.files.insert(list->begin(), list->end());
  }
  churn.keys.insert(registry.keysAdded.begin(), registry.keysAdded.end());
  churn.keys.insert(registry.keysRemoved.begin(), registry.keysRemoved.end());
  for (const RegistryValueChange& value : registry.values) churn.values.insert({value.key, value.name});
  return churn;
}

// One line each: "file\t<path>", "key\t<key>", "value\t<key>\t<name>".
// Names with a tab or a line end in them are left out: Wine uses none.
std::string WineChurn::Serialize() const {
  auto plain = [](const std::string& text) { return text.find_first_of("\t\n\r") == std::string::npos; };
  std::string text = "kesmar-pack wine churn 1\n";
  for (const std::string& file : files) {
    if (plain(file)) text += "file\t" + file + "\n";
  }
  for (const std::string& key : keys) {
    if (plain(key)) text += "key\t" + key + "\n";
  }
  for (const auto& value : values) {
    if (plain(value.first) && plain(value.second)) text += "value\t" + value.first + "\t" + value.second + "\n";
  }
  return text;
}

bool WineChurn::Parse(const std::string& text, WineChurn* churn) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != "kesmar-pack wine churn 1") return false;
  *churn = WineChurn();
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) return false;
    const std::string kind = line.substr(0, tab);
    const std::string rest = line.substr(tab + 1);
    if (kind == "file") {
      churn->files.insert(rest);
    } else if (kind == "key") {
      churn->keys.insert(rest);
    } else if (kind == "value" && rest.find('\t') != std::string::npos) {
      churn->values.insert({rest.substr(0, rest.find('\t')), rest.substr(rest.find('\t') + 1)});
    } else {
      return false;
    }
  }
  return true;
}

void LeaveOutChurn(const WineChurn& churn, FileChanges* files, RegistryChanges* registry) {
  auto ownFile = [&](const std::string& path) { return churn.files.count(path) != 0; };
  DropIf(&files->created, ownFile);
  DropIf(&files->changed, ownFile);
  DropIf(&files->removed, ownFile);
  auto ownKey = [&](const std::string& key) { return churn.keys.count(key) != 0 || UnderHardwareKey(key); };
  DropIf(&registry->keysAdded, ownKey);
  DropIf(&registry->keysRemoved, ownKey);
  DropIf(&registry->values, [&](const RegistryValueChange& value) {
    return ownKey(value.key) || churn.values.count({value.key, value.name}) != 0;
  });
}

std::vector<std::string> TakeFolder(const std::string& folder, FileChanges* files) {
  std::vector<std::string> inside;
  const std::string prefix = folder + "/";
  auto take = [&](const std::string& path) {
    if (!StartsWith(path, prefix)) return false;
    inside.push_back(path.substr(prefix.size()));
    return true;
  };
  DropIf(&files->created, take);
  DropIf(&files->changed, take);
  DropIf(&files->removed, [&](const std::string& path) { return StartsWith(path, prefix); });
  std::sort(inside.begin(), inside.end());
  return inside;
}

FontChanges FindFontChanges(const FileChanges& files, const RegistryChanges& registry, const std::string& winIniBefore,
                            const std::string& winIniAfter) {
  FontChanges fonts;
  for (const auto* list : {&files.created, &files.changed}) {
    for (const std::string& path : *list) {
      if (InFontFolder(path)) fonts.files.push_back(DriveCPath(path));
    }
  }
  std::sort(fonts.files.begin(), fonts.files.end());
  const auto before = ProfileFonts(winIniBefore);
  for (const auto& entry : ProfileFonts(winIniAfter)) {
    const auto old = before.find(entry.first);
    if (old == before.end() || old->second != entry.second) fonts.profileEntries.push_back(entry.second);
  }
  for (const RegistryValueChange& value : registry.values) {
    if (!value.after.empty() && EndsWith(Lower(value.key), "\\microsoft\\windows nt\\currentversion\\fonts")) {
      fonts.registryEntries.push_back(value.key + ": " + value.name + " = " + ShownRegistryData(value.after));
    }
  }
  return fonts;
}

std::string DriveCPath(const std::string& relative) {
  std::string path = "C:\\" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

}  // namespace kesmar
