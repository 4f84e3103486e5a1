#include "app/file_name.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace varnok {

namespace {

std::string Bytes(const QByteArray& bytes) { return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())); }

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The one entry of folder that shows as name, or name's UTF-8 bytes when none or several do.
std::string EntryShownAs(const std::string& folder, const QString& name) {
  const std::string plain = Bytes(QFile::encodeName(name));
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "/" : folder.c_str()), ::closedir);
  if (dir == nullptr) return plain;
  std::string found;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string bytes = entry->d_name;
    if (ShownName(bytes) == name && ++matches == 1) found = bytes;
  }
  return matches == 1 ? found : plain;
}

}  // namespace

std::string AbsolutePath(const std::string& path, const std::string& current) {
  const std::string whole = path.starts_with('/') ? path : current + "/" + path;
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (begin <= whole.size()) {
    std::size_t end = whole.find('/', begin);
    if (end == std::string::npos) end = whole.size();
    const std::string part = whole.substr(begin, end - begin);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    begin = end + 1;
  }
  std::string clean;
  for (const std::string& part : parts) clean += "/" + part;
  return clean.empty() ? "/" : clean;
}

std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string PathBytes(const QString& path) {
  const std::string plain = Bytes(QFile::encodeName(path));
  if (Exists(plain) || !path.startsWith(QLatin1Char('/'))) return plain;
  std::string bytes;
  for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    const std::string next = bytes + "/" + Bytes(QFile::encodeName(part));
    bytes = Exists(next) ? next : bytes + "/" + EntryShownAs(bytes, part);
  }
  return bytes.empty() ? plain : bytes;
}

std::string LocalFileBytes(const QUrl& url) {
  // A file on another host is named by the text Qt makes of it ("//host/path").
  if (!url.host().isEmpty()) return Bytes(QFile::encodeName(url.toLocalFile()));
  return Bytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString ShownName(const std::string& bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace varnok
