// A strict reader of the Prometheus text exposition format (version 0.0.4), for checking the
// server's /metrics: every sample must belong to a family announced by a TYPE line before it,
// names and labels must be well formed, no series may repeat, and histograms must have
// cumulative buckets ending in le="+Inf" equal to their _count. Any violation throws.
#pragma once
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornhal::e2e {

struct PromSample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

struct PromFamily {
  std::string type;
  std::string help;
  std::vector<PromSample> samples;
};

class PromText {
 public:
  explicit PromText(const std::string& text) { Parse(text); }

  const std::map<std::string, PromFamily>& families() const { return families_; }
  bool Has(const std::string& family) const { return families_.count(family) > 0; }
  const PromFamily& Family(const std::string& family) const {
    auto it = families_.find(family);
    if (it == families_.end()) throw std::runtime_error("no family " + family);
    return it->second;
  }
  // The value of one series; throws when it is not there.
  double Value(const std::string& name, const std::map<std::string, std::string>& labels = {}) const {
    auto it = series_.find(Key(name, labels));
    if (it == series_.end()) throw std::runtime_error("no series " + Key(name, labels));
    return it->second;
  }
  bool HasSeries(const std::string& name, const std::map<std::string, std::string>& labels = {}) const {
    return series_.count(Key(name, labels)) > 0;
  }

 private:
  static bool NameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':'; }
  static bool NameChar(char c) { return NameStart(c) || std::isdigit(static_cast<unsigned char>(c)); }
  static bool ValidName(const std::string& s, bool label) {
    if (s.empty() || !NameStart(s[0]) || (label && s[0] == ':')) return false;
    for (char c : s) {
      if (!NameChar(c) || (label && c == ':')) return false;
    }
    return true;
  }
  static std::string Key(const std::string& name, const std::map<std::string, std::string>& labels) {
    std::string key = name + "{";
    for (const auto& [k, v] : labels) key += k + "=\"" + v + "\",";
    return key + "}";
  }
  [[noreturn]] static void Fail(size_t line, const std::string& why) {
    throw std::runtime_error("line " + std::to_string(line) + ": " + why);
  }
  static double Number(const std::string& s, size_t line) {
    if (s == "+Inf") return INFINITY;
    if (s == "-Inf") return -INFINITY;
    if (s == "NaN") return NAN;
    if (s.empty()) Fail(line, "empty value");
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || std::isinf(v) || std::isnan(v)) Fail(line, "bad number '" + s + "'");
    return v;
  }

  // The family a sample name belongs to (histograms own _bucket, _sum and _count).
  std::string FamilyOf(const std::string& name, size_t line) const {
    if (families_.count(name) && families_.at(name).type != "histogram") return name;
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      std::string s(suffix);
      if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
        std::string base = name.substr(0, name.size() - s.size());
        auto it = families_.find(base);
        if (it != families_.end() && it->second.type == "histogram") return base;
      }
    }
    Fail(line, "sample " + name + " before its TYPE line");
  }

  void Parse(const std::string& text) {
    if (!text.empty() && text.back() != '\n') throw std::runtime_error("text does not end in a line end");
    size_t pos = 0, line_no = 0;
    std::set<std::string> helped;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      ++line_no;
      if (line.empty()) Fail(line_no, "empty line");
      if (line[0] == '#') {
        ParseComment(line, line_no, helped);
        continue;
      }
      ParseSample(line, line_no);
    }
    for (const auto& [name, family] : families_) CheckHistogram(name, family);
  }

  void ParseComment(const std::string& line, size_t line_no, std::set<std::string>& helped) {
    auto word_end = [&](size_t from) { size_t e = line.find(' ', from); return e == std::string::npos ? line.size() : e; };
    if (line.rfind("# TYPE ", 0) == 0) {
      size_t e = word_end(7);
      std::string name = line.substr(7, e - 7);
      std::string type = e < line.size() ? line.substr(e + 1) : "";
      if (!ValidName(name, false)) Fail(line_no, "bad family name " + name);
      if (type != "counter" && type != "gauge" && type != "histogram" && type != "summary" && type != "untyped") {
        Fail(line_no, "bad type " + type);
      }
      if (families_.count(name) && !families_[name].type.empty()) Fail(line_no, "second TYPE for " + name);
      if (families_.count(name) && !families_[name].samples.empty()) Fail(line_no, "TYPE after samples");
      families_[name].type = type;
    } else if (line.rfind("# HELP ", 0) == 0) {
      size_t e = word_end(7);
      std::string name = line.substr(7, e - 7);
      if (!ValidName(name, false)) Fail(line_no, "bad family name " + name);
      if (!helped.insert(name).second) Fail(line_no, "second HELP for " + name);
      families_[name].help = e < line.size() ? line.substr(e + 1) : "";
    }
  }

  void ParseSample(const std::string& line, size_t line_no) {
    size_t i = 0;
    while (i < line.size() && NameChar(line[i])) ++i;
    PromSample s;
    s.name = line.substr(0, i);
    if (!ValidName(s.name, false)) Fail(line_no, "bad sample name");
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        size_t b = i;
        while (i < line.size() && NameChar(line[i])) ++i;
        std::string label = line.substr(b, i - b);
        if (!ValidName(label, true)) Fail(line_no, "bad label name");
        if (i + 1 >= line.size() || line[i] != '=' || line[i + 1] != '"') Fail(line_no, "label without =\"");
        i += 2;
        std::string value;
        for (;;) {
          if (i >= line.size()) Fail(line_no, "unterminated label value");
          char c = line[i++];
          if (c == '"') break;
          if (c == '\\') {
            if (i >= line.size()) Fail(line_no, "bad escape");
            char n = line[i++];
            if (n == 'n') value += '\n';
            else if (n == '\\' || n == '"') value += n;
            else Fail(line_no, "bad escape");
          } else {
            value += c;
          }
        }
        if (!s.labels.emplace(label, value).second) Fail(line_no, "label twice");
        if (i < line.size() && line[i] == ',') ++i;
        else if (i >= line.size() || line[i] != '}') Fail(line_no, "expected , or }");
      }
      if (i >= line.size()) Fail(line_no, "unterminated labels");
      ++i;
    }
    if (i >= line.size() || line[i] != ' ') Fail(line_no, "expected one blank before the value");
    std::string rest = line.substr(i + 1);
    if (rest.find(' ') != std::string::npos) Fail(line_no, "time stamps are not expected");
    s.value = Number(rest, line_no);
    std::string family = FamilyOf(s.name, line_no);
    if (!series_.emplace(Key(s.name, s.labels), s.value).second) Fail(line_no, "series repeated");
    PromFamily& f = families_[family];
    if (f.type == "counter" && !(s.value >= 0)) Fail(line_no, "negative counter");
    if (f.type == "histogram" && s.name == family) Fail(line_no, "bare histogram sample");
    if (f.type == "histogram" && s.name == family + "_bucket" && !s.labels.count("le")) Fail(line_no, "bucket without le");
    f.samples.push_back(std::move(s));
  }

  void CheckHistogram(const std::string& name, const PromFamily& f) const {
    if (f.type != "histogram") return;
    double last = -1, last_bound = -INFINITY, inf = -1, count = -1;
    bool sum = false;
    for (const PromSample& s : f.samples) {
      if (s.name == name + "_bucket") {
        double bound = Number(s.labels.at("le"), 0);
        if (bound <= last_bound) throw std::runtime_error(name + ": bucket bounds not increasing");
        if (s.value < last) throw std::runtime_error(name + ": buckets not cumulative");
        last_bound = bound;
        last = s.value;
        if (std::isinf(bound)) inf = s.value;
      } else if (s.name == name + "_count") {
        count = s.value;
      } else if (s.name == name + "_sum") {
        sum = true;
      }
    }
    if (inf < 0 || count < 0 || !sum) throw std::runtime_error(name + ": +Inf bucket, _sum or _count missing");
    if (inf != count) throw std::runtime_error(name + ": +Inf bucket differs from _count");
  }

  std::map<std::string, PromFamily> families_;
  std::map<std::string, double> series_;
};

}  // namespace vornhal::e2e
