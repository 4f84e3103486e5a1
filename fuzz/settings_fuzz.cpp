// Drives the settings store over arbitrary file texts: reads a few keys, writes one, and reads it back. The
// written value must read back (under any case of its names), and every other key must read as before.
//
// Input: three bytes that give the lengths of the section name (1 to 8), the key name (1 to 8) and the value
// (0 to 63), then that many bytes for them (mapped onto names and printable values), then the file's text.
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "settings/ini_file.h"

namespace {

constexpr char kNameCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
constexpr char kMissing[] = "\x01missing";

// One file per process, in memory where the machine has it: every write replaces the file and syncs it.
const std::string& FilePath() {
  static const std::string path = [] {
    const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/varnok_settings_fuzz_" + std::to_string(::getpid()) + ".ini";
  }();
  // Registered after the path exists, so that it runs before the path is destroyed.
  [[maybe_unused]] static const int removal = std::atexit([] { std::remove(path.c_str()); });
  return path;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

template <typename Change>
std::string Changed(std::string text, Change change) {
  for (char& c : text) c = change(c);
  return text;
}

struct Key {
  std::string section;
  std::string name;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t section_length = 1 + data[0] % 8;
  const std::size_t key_length = 1 + data[1] % 8;
  const std::size_t value_length = data[2] % 64;
  std::size_t at = 3;
  if (size < at + section_length + key_length + value_length) return 0;
  std::string section, key, value;
  for (std::size_t i = 0; i < section_length; ++i) section += kNameCharacters[data[at++] % (sizeof kNameCharacters - 1)];
  for (std::size_t i = 0; i < key_length; ++i) key += kNameCharacters[data[at++] % (sizeof kNameCharacters - 1)];
  for (std::size_t i = 0; i < value_length; ++i) value += static_cast<char>(0x21 + data[at++] % 94);

  const std::string& path = FilePath();
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + at), static_cast<std::streamsize>(size - at));
  varnok::settings::TIniFile ini(path);

  // The keys the program itself keeps, and neighbours of the one written.
  std::vector<Key> others;
  for (const std::string& s : {section, std::string("app"), std::string("file")}) {
    for (const std::string& k : {key, std::string("left"), std::string("path"), std::string("x")}) {
      if (!(SameName(s, section) && SameName(k, key))) others.push_back({s, k});
    }
  }
  std::vector<std::string> before;
  for (const Key& other : others) before.push_back(ini.ReadString(other.section, other.name, kMissing));
  (void)ini.ReadInteger(section, key, -1);

  try {
    ini.WriteString(section, key, value);
  } catch (const varnok::settings::EIniFileException&) {
    __builtin_trap();  // the folder is writable: nothing may keep the value from being stored
  }

  if (ini.ReadString(section, key, kMissing) != value) __builtin_trap();
  if (ini.ReadString(Changed(section, Upper), Changed(key, Lower), kMissing) != value) __builtin_trap();
  for (std::size_t i = 0; i < others.size(); ++i) {
    if (ini.ReadString(others[i].section, others[i].name, kMissing) != before[i]) __builtin_trap();
  }
  (void)ini.ReadInteger(section, key, -1);
  return 0;
}
