// Reading, comparing and editing the text of Wine's registry files.
#include "kesmar_pack/try/wine/wine_registry.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace kesmar {
namespace {

// Wine writes a backslash inside a name as two; a person reads one.
std::string UnescapeKey(const std::string& path) {
  std::string shown;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\') ++i;
    shown += path[i];
  }
  return shown;
}

std::string EscapeKey(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    escaped += c;
    if (c == '\\') escaped += '\\';
  }
  return escaped;
}

// The quoted name at the start of `line` ("...", with \\ and \" escapes):
// its length in the line, or 0 when the quotes do not close.
size_t QuotedLength(const std::string& line) {
  if (line.empty() || line[0] != '"') return 0;
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      return i + 1;
    }
  }
  return 0;
}

// The text of a quoted string with \\ and \" undone; other escapes (\x00e9,
// \n) stay as written, which keeps them visible.
std::string UnquoteName(const std::string& quoted) {
  std::string shown;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 2 < quoted.size() && (quoted[i + 1] == '\\' || quoted[i + 1] == '"')) ++i;
    shown += quoted[i];
  }
  return shown;
}

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

void ParseWineRegistry(const std::string& text, const std::string& root, RegistryTree* tree) {
  RegistryValues* key = nullptr;
  const std::vector<std::string> lines = SplitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string::npos) {
        key = nullptr;
        continue;
      }
      key = &(*tree)[root + "\\" + UnescapeKey(line.substr(1, close - 1))];
      continue;
    }
    if (key == nullptr) continue;
    std::string name;
    size_t equals = 0;
    if (line[0] == '@') {
      name = "(default)";
      equals = 1;
    } else {
      const size_t quoted = QuotedLength(line);
      if (quoted == 0) continue;
      name = UnquoteName(line.substr(0, quoted));
      equals = quoted;
    }
    if (equals >= line.size() || line[equals] != '=') continue;
    std::string data = line.substr(equals + 1);
    // Long binary data goes on over lines that end in a backslash.
    while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
      data.pop_back();
      const std::string& next = lines[++i];
      data += next.substr(std::min(next.find_first_not_of(' '), next.size()));
    }
    // A file cut short after a backslash.
    if (!data.empty() && data.back() == '\\' && i + 1 == lines.size()) data.pop_back();
    (*key)[name] = data;
  }
}

RegistryChanges CompareRegistry(const RegistryTree& before, const RegistryTree& after) {
  RegistryChanges changes;
  auto old = before.begin();
  auto now = after.begin();
  while (old != before.end() || now != after.end()) {
    if (now == after.end() || (old != before.end() && old->first < now->first)) {
      changes.keysRemoved.push_back(old->first);
      for (const auto& value : old->second) changes.values.push_back({old->first, value.first, value.second, ""});
      ++old;
    } else if (old == before.end() || now->first < old->first) {
      changes.keysAdded.push_back(now->first);
      for (const auto& value : now->second) changes.values.push_back({now->first, value.first, "", value.second});
      ++now;
    } else {
      const RegistryValues& a = old->second;
      const RegistryValues& b = now->second;
      for (const auto& value : a) {
        const auto match = b.find(value.first);
        if (match == b.end()) {
          changes.values.push_back({old->first, value.first, value.second, ""});
        } else if (match->second != value.second) {
          changes.values.push_back({old->first, value.first, value.second, match->second});
        }
      }
      for (const auto& value : b) {
        if (a.count(value.first) == 0) changes.values.push_back({now->first, value.first, "", value.second});
      }
      ++old;
      ++now;
    }
  }
  return changes;
}

std::string SetWineRegistryValue(const std::string& text, const std::string& key, const std::string& name,
                                 const std::string& data) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  const std::string header = "[" + EscapeKey(key) + "]";
  const std::string valueLine = quoted + "=" + data;
  std::vector<std::string> lines = SplitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!SameLetters(lines[i].substr(0, header.size()), header)) continue;
    size_t insert = i + 1;
    while (insert < lines.size() && !lines[insert].empty() && lines[insert][0] == '#') ++insert;
    size_t end = insert;
    for (; end < lines.size() && !lines[end].empty() && lines[end][0] != '['; ++end) {
      if (SameLetters(lines[end].substr(0, quoted.size() + 1), quoted + "=")) {
        lines[end] = valueLine;
        insert = std::string::npos;
        break;
      }
    }
    if (insert != std::string::npos) lines.insert(lines.begin() + long(insert), valueLine);
    std::string joined;
    for (const std::string& line : lines) joined += line + "\n";
    return joined;
  }
  std::string extended = text;
  if (!extended.empty() && extended.back() != '\n') extended += '\n';
  const std::string stamp = std::to_string(static_cast<long long>(std::time(nullptr)));
  extended += "\n" + header + " " + stamp + "\n" + valueLine + "\n";
  return extended;
}

std::string ShownRegistryData(const std::string& data) {
  if (data.size() < 2 || data.front() != '"' || data.back() != '"') return data;
  return UnquoteName(data);
}

}  // namespace kesmar
