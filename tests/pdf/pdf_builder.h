// Writes small PDF files for tests: objects, classic cross-reference
// sections, cross-reference streams and object streams, with the offsets
// computed as the bytes are laid down. Header-only; included by the tests
// that need handwritten documents.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pwtest {

inline std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uLong>(data.size()), 9);
  out.resize(size);
  return out;
}

inline std::string Hex(const std::string& data) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : data) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + ">";
}

class PdfBuilder {
 public:
  explicit PdfBuilder(const std::string& header = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") : bytes(header) {}

  // "num gen obj body endobj"; the offset is recorded for the next section.
  void Object(int num, const std::string& body, int gen = 0) {
    offsets_[num] = {bytes.size(), gen};
    latest_[num] = bytes.size();
    bytes += std::to_string(num) + " " + std::to_string(gen) + " obj\n" + body + "\nendobj\n";
  }

  // A stream object with /Length filled in (dictEntries without << >>).
  void Stream(int num, const std::string& dictEntries, const std::string& data) {
    Object(num,
           "<< " + dictEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
  }

  // An object stream holding (number, text) pairs; filters: "" none,
  // "/FlateDecode", or an array text with the matching encoding done here for
  // [/ASCIIHexDecode /FlateDecode].
  void ObjectStream(int num, const std::vector<std::pair<int, std::string>>& objects,
                    const std::string& filter = "/FlateDecode", const std::string& extra = "") {
    std::string head, body;
    for (size_t i = 0; i < objects.size(); ++i) {
      head += std::to_string(objects[i].first) + " " + std::to_string(body.size()) + " ";
      body += objects[i].second + "\n";
      compressed_[objects[i].first] = {num, static_cast<int>(i)};
    }
    std::string data = head + body;
    std::string dict =
        "/Type /ObjStm /N " + std::to_string(objects.size()) + " /First " + std::to_string(head.size()) + " " + extra;
    if (filter == "/FlateDecode") {
      data = Deflate(data);
      dict += " /Filter /FlateDecode";
    } else if (filter == "[/ASCIIHexDecode /FlateDecode]") {
      data = Hex(Deflate(data));
      dict += " /Filter [/ASCIIHexDecode /FlateDecode]";
    }
    Stream(num, dict, data);
  }

  void Raw(const std::string& s) { bytes += s; }
  // Where the latest definition of an object was written.
  size_t Offset(int num) const { return latest_.at(num); }

  // A classic section for the objects written since the last section.
  // Returns its offset; trailerEntries go inside << >> with /Prev added when
  // there was an earlier section.
  size_t XRefTable(const std::string& trailerEntries) {
    size_t at = bytes.size();
    std::string out = "xref\n";
    std::map<int, std::pair<size_t, int>> entries = offsets_;
    if (lastSection_ == 0) out += "0 1\n0000000000 65535 f \n";
    for (auto it = entries.begin(); it != entries.end();) {
      auto run = it;
      int count = 0;
      while (run != entries.end() && run->first == it->first + count) {
        ++run;
        ++count;
      }
      out += std::to_string(it->first) + " " + std::to_string(count) + "\n";
      for (; it != run; ++it) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu %05d n \n", it->second.first, it->second.second);
        out += line;
      }
    }
    out += "trailer\n<< " + trailerEntries;
    if (lastSection_) out += " /Prev " + std::to_string(lastSection_);
    out += " >>\n";
    bytes += out;
    EndSection(at);
    return at;
  }

  // A cross-reference stream object `num` for the objects written since the
  // last section (and the compressed ones), /W [1 4 2]. With predictor the
  // rows are PNG-Up encoded (/DecodeParms << /Predictor 12 /Columns 7 >>).
  size_t XRefStream(int num, const std::string& trailerEntries, bool flate = true, bool predictor = false) {
    size_t at = bytes.size();
    std::map<int, std::pair<size_t, int>> entries = offsets_;
    entries[num] = {at, 0};
    std::map<int, std::vector<uint8_t>> rows;
    auto row = [](int type, uint64_t f2, int f3) {
      std::vector<uint8_t> r{static_cast<uint8_t>(type)};
      for (int s = 24; s >= 0; s -= 8) r.push_back(static_cast<uint8_t>(f2 >> s));
      r.push_back(static_cast<uint8_t>(f3 >> 8));
      r.push_back(static_cast<uint8_t>(f3));
      return r;
    };
    for (auto& [n, e] : entries) rows[n] = row(1, e.first, e.second);
    for (auto& [n, c] : compressed_) rows[n] = row(2, static_cast<uint64_t>(c.first), c.second);
    std::string index;
    std::string data;
    std::vector<uint8_t> previous(7, 0);
    for (auto it = rows.begin(); it != rows.end();) {
      auto run = it;
      int count = 0;
      while (run != rows.end() && run->first == it->first + count) {
        ++run;
        ++count;
      }
      index += std::to_string(it->first) + " " + std::to_string(count) + " ";
      for (; it != run; ++it) {
        if (predictor) {
          data += '\x02';
          for (size_t i = 0; i < 7; ++i) data += static_cast<char>(it->second[i] - previous[i]);
          previous = it->second;
        } else {
          data.append(it->second.begin(), it->second.end());
        }
      }
    }
    std::string dict = "/Type /XRef /W [1 4 2] /Index [" + index + "] /Size " +
                       std::to_string(rows.rbegin()->first + 1) + " " + trailerEntries;
    if (lastSection_) dict += " /Prev " + std::to_string(lastSection_);
    if (predictor) dict += " /DecodeParms << /Predictor 12 /Columns 7 >>";
    if (flate) {
      data = Deflate(data);
      dict += " /Filter /FlateDecode";
    }
    offsets_.clear();
    compressed_.clear();
    bytes += std::to_string(num) + " 0 obj\n<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
             data + "\nendstream\nendobj\n";
    EndSection(at);
    return at;
  }

  void StartXRef(size_t offset) { bytes += "startxref\n" + std::to_string(offset) + "\n%%EOF\n"; }

  std::vector<uint8_t> Data() const { return std::vector<uint8_t>(bytes.begin(), bytes.end()); }

  std::string bytes;

 private:
  void EndSection(size_t at) {
    lastSection_ = at;
    offsets_.clear();
    compressed_.clear();
  }
  std::map<int, std::pair<size_t, int>> offsets_;  // number -> (offset, generation)
  std::map<int, std::pair<int, int>> compressed_;  // number -> (object stream, index)
  std::map<int, size_t> latest_;
  size_t lastSection_ = 0;
};

// A catalog (1), page tree root (2) and `pages` pages (10, 11, ...) with a
// content stream each (100, 101, ...), as a starting point for documents.
inline void AddSimplePages(PdfBuilder& b, int pages, const std::string& rootExtra = "") {
  b.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(10 + i) + " 0 R ";
  b.Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " /MediaBox [0 0 612 792] " +
                  rootExtra + " >>");
  for (int i = 0; i < pages; ++i) {
    b.Object(10 + i, "<< /Type /Page /Parent 2 0 R /Contents " + std::to_string(100 + i) + " 0 R >>");
    b.Stream(100 + i, "", "BT /F1 12 Tf (page " + std::to_string(i + 1) + ") Tj ET");
  }
}

}  // namespace pwtest
