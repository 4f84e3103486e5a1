#pragma once

#include <QString>

#include <string>

class QUrl;

namespace varnok {

// The path made absolute (a relative path counts from current, an absolute folder) and cleaned: "." components go,
// ".." takes the component before it away, repeated and trailing "/" go. Works on the bytes, so a name in any
// encoding stays as it is.
std::string AbsolutePath(const std::string& path, const std::string& current);

// The current folder, in the file system's bytes; empty when the system cannot tell it.
std::string CurrentFolder();

// The path that a text names, in the file system's bytes. The text's own encoding (UTF-8) serves when a file of
// that name exists; otherwise each component that is missing becomes the one name in its folder that shows as it,
// since a name that is not valid UTF-8 shows with U+FFFD and its text alone no longer tells its bytes.
std::string PathBytes(const QString& path);

// The bytes of a local file URL's path: its percent escapes decoded byte by byte, so that a name in any encoding
// arrives as the sender named it.
std::string LocalFileBytes(const QUrl& url);

// The text that shows a name of the file system (its bytes read as UTF-8).
QString ShownName(const std::string& bytes);

}  // namespace varnok
