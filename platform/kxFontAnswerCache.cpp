#include "platform/kxFontAnswerCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace pw {

namespace {

constexpr const char* kHeader = "paperwright font answers 2 ";
// Bodies of the lines that are not answers start with a tab and a letter,
// where an answer has its style number.
constexpr std::string_view kWatchedTag = "\tW";
constexpr std::string_view kFamiliesTag = "\tF";
constexpr size_t kMaxWatched = 4096;
// A file larger than this is not read (a few hundred families make a few
// tens of kilobytes).
constexpr std::uintmax_t kMaxFileBytes = 4u << 20;
constexpr size_t kMaxAnswers = 8192;

uint64_t Fnv(std::string_view s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::string Hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

void Escape(std::string& out, std::string_view s) {
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c; break;
    }
  }
}

bool Unescape(std::string_view s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

bool Int(std::string_view s, int& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A list of names as one checked line: tag, then each name after a tab.
std::string ListLine(std::string_view tag, const std::vector<std::string>& names) {
  std::string body(tag);
  for (const std::string& n : names) {
    body += '\t';
    Escape(body, n);
  }
  return Hex(Fnv(body)) + ' ' + body + '\n';
}

// The names of a list line with this tag; nullopt for any other line.
std::optional<std::vector<std::string>> ParseListLine(std::string_view line, std::string_view tag, size_t most) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (line.size() < 17 + tag.size() || line[16] != ' ') return std::nullopt;
  const std::string_view body = line.substr(17);
  if (body.substr(0, tag.size()) != tag || (body.size() > tag.size() && body[tag.size()] != '\t') ||
      Hex(Fnv(body)) != line.substr(0, 16))
    return std::nullopt;
  std::vector<std::string> names;
  for (size_t at = tag.size(); at < body.size() && names.size() < most;) {
    const size_t next = body.find('\t', at + 1);
    const std::string_view field =
        body.substr(at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1);
    std::string name;
    if (!Unescape(field, name)) return std::nullopt;
    names.push_back(std::move(name));
    at = next == std::string_view::npos ? body.size() : next;
  }
  return names;
}

}  // namespace

std::string TkxFontAnswerCache::Key(const std::string& family, int style) {
  return family + '\0' + std::to_string(style);
}

std::string TkxFontAnswerCache::Line(const std::string& family, int style, const TkxFontAnswer& a) {
  std::string body;
  Escape(body, family);
  body += '\t' + std::to_string(style) + '\t';
  Escape(body, a.Path);
  body += '\t' + std::to_string(a.Index) + '\t';
  Escape(body, a.Family);
  body += '\t' + std::to_string(a.Weight) + '\t' + std::to_string(a.Slant) + '\t' + (a.Embolden ? "1" : "0");
  return Hex(Fnv(body)) + ' ' + body + '\n';
}

std::optional<std::pair<std::string, TkxFontAnswer>> TkxFontAnswerCache::ParseLine(const std::string& text) {
  std::string_view line = text;
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (line.size() < 18 || line[16] != ' ') return std::nullopt;
  const std::string_view body = line.substr(17);
  if (Hex(Fnv(body)) != line.substr(0, 16)) return std::nullopt;
  std::vector<std::string_view> f;
  for (size_t at = 0;;) {
    const size_t tab = body.find('\t', at);
    f.push_back(body.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  if (f.size() != 8) return std::nullopt;
  std::string family;
  TkxFontAnswer a;
  int style = 0, embolden = 0;
  if (!Unescape(f[0], family) || !Int(f[1], style) || !Unescape(f[2], a.Path) || !Int(f[3], a.Index) ||
      !Unescape(f[4], a.Family) || !Int(f[5], a.Weight) || !Int(f[6], a.Slant) || !Int(f[7], embolden) || style < 0 ||
      style > 3 || (embolden != 0 && embolden != 1))
    return std::nullopt;
  a.Embolden = embolden == 1;
  return std::make_pair(Key(family, style), std::move(a));
}

void TkxFontAnswerCache::ReadLines(std::istream& in) {
  std::string line;
  while (std::getline(in, line) && answers_.size() < kMaxAnswers) {
    if (auto entry = ParseLine(line)) {
      answers_.insert_or_assign(std::move(entry->first), std::move(entry->second));
    } else if (auto names = ParseListLine(line, kFamiliesTag, kMaxAnswers)) {
      families_ = std::move(*names);
      hasFamilies_ = true;
    }
  }
}

bool TkxFontAnswerCache::OpenIfCurrent(const std::string& path, const TkxFingerprintOf& fingerprintOf) {
  answers_.clear();
  families_.clear();
  hasFamilies_ = false;
  path_.clear();
  if (path.empty()) return false;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileBytes) return false;
  std::ifstream in(path, std::ios::binary);
  std::string header, watchLine;
  if (!std::getline(in, header) || header.compare(0, std::string_view(kHeader).size(), kHeader) != 0 ||
      !std::getline(in, watchLine))
    return false;
  const auto watched = ParseListLine(watchLine, kWatchedTag, kMaxWatched);
  if (!watched || header.substr(std::string_view(kHeader).size()) != fingerprintOf(*watched)) return false;
  ReadLines(in);
  path_ = path;
  return true;
}

void TkxFontAnswerCache::Open(const std::string& path, const std::string& fingerprint,
                              const std::vector<std::string>& watched) {
  answers_.clear();
  families_.clear();
  hasFamilies_ = false;
  path_.clear();
  if (path.empty()) return;
  const std::string header = kHeader + fingerprint;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size <= kMaxFileBytes) {
    std::ifstream in(path, std::ios::binary);
    std::string line, watchLine;
    // The paths must be noted as well, or no later run could check the
    // file without loading the configuration.
    if (std::getline(in, line) && line == header && std::getline(in, watchLine) &&
        ParseListLine(watchLine, kWatchedTag, kMaxWatched) == watched) {
      ReadLines(in);
      path_ = path;
      return;
    }
  }
  // No file, or one of another configuration: started again (written
  // under another name and renamed, so that no reader sees half a header).
  const std::filesystem::path target(path);
  std::filesystem::create_directories(target.parent_path(), ec);
  const std::string temp = path + ".new-" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << header << '\n' << ListLine(kWatchedTag, watched);
    if (!out.flush()) {
      std::filesystem::remove(temp, ec);
      return;
    }
  }
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return;
  }
  path_ = path;
}

const TkxFontAnswer* TkxFontAnswerCache::Find(const std::string& family, int style) const {
  auto it = answers_.find(Key(family, style));
  return it == answers_.end() ? nullptr : &it->second;
}

void TkxFontAnswerCache::Add(const std::string& family, int style, const TkxFontAnswer& answer) {
  if (answers_.size() >= kMaxAnswers) return;
  answers_.insert_or_assign(Key(family, style), answer);
  Append(Line(family, style, answer));
}

void TkxFontAnswerCache::SetFamilies(const std::vector<std::string>& families) {
  families_ = families;
  hasFamilies_ = true;
  Append(ListLine(kFamiliesTag, families));
}

void TkxFontAnswerCache::Append(const std::string& line) {
  if (path_.empty()) return;
  // One write with O_APPEND: lines of processes writing side by side do not
  // interleave.
  const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return;
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) path_.clear();
  close(fd);
}

std::string TkxFontAnswerCache::DefaultPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    base = std::string(home) + "/.cache";
  } else {
    return {};
  }
  return base + "/paperwright/font-answers";
}

}  // namespace pw
