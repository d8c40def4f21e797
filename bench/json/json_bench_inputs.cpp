#include "json_bench_inputs.h"

#include <cstdio>
#include <random>

namespace kestrel::bench {

namespace {

class Maker {
public:
  explicit Maker(uint32_t seed) : random_(seed) {}

  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
  double Real(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(random_);
  }

  std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
  }

  std::string Time() {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "2024-%02d-%02dT%02d:%02d:%02d.%03dZ", Int(1, 12),
                  Int(1, 28), Int(0, 23), Int(0, 59), Int(0, 59), Int(0, 999));
    return buffer;
  }

  // Words mixing ASCII, accented Latin, Cyrillic, CJK and the odd emoji or escape.
  std::string Words(int count) {
    static const char* kWords[] = {"sensor",   "Gerät",  "température",  "датчик",     "温度",
                                   "pressure", "Zürich", "naïve",        "café",       "status",
                                   "☀ sunny",  "😀",      "line\\nbreak", "quote\\\"d", "ok"};
    std::string out;
    for (int i = 0; i < count; ++i) {
      if (i)
        out += ' ';
      out += kWords[Int(0, 14)];
    }
    return out;
  }

  std::string Small(int seq) {
    std::string s = "{\"device\":\"sensor-" + std::to_string(Int(1, 9999)) + "\",";
    s += "\"ts\":\"" + Time() + "\",\"seq\":" + std::to_string(seq) + ",";
    s += "\"temp\":" + Fixed(Real(-20, 40), 2) + ",\"hum\":" + Fixed(Real(0, 100), 1) + ",";
    s += "\"pressure\":" + Fixed(Real(950, 1050), 2) + ",\"ok\":" + (Int(0, 9) ? "true" : "false");
    s += ",\"battery\":" + Fixed(Real(3, 4.2), 3) +
         ",\"location\":{\"lat\":" + Fixed(Real(-90, 90), 5) +
         ",\"lon\":" + Fixed(Real(-180, 180), 5) + "}}";
    return s;
  }

  std::string Medium(int id) {
    std::string s = "{\"id\":" + std::to_string(id) + ",\"name\":\"" + Words(3) + "\",";
    s += "\"created\":\"" + Time() + "\",\"active\":true,\"owner\":{\"user\":\"" + Words(2) +
         "\",\"email\":\"someone@example.org\",\"roles\":[\"admin\",\"viewer\"]},";
    s += "\"readings\":[";
    for (int i = 0; i < 12; ++i) {
      if (i)
        s += ',';
      s += "{\"t\":\"" + Time() + "\",\"v\":" + Fixed(Real(-1000, 1000), 4) +
           ",\"q\":" + std::to_string(Int(0, 3)) + ",\"flags\":[" + (Int(0, 1) ? "true" : "false") +
           ",null," + std::to_string(Int(-5, 5)) + "]}";
    }
    s += "],\"notes\":\"" + Words(12) + "\",\"tags\":[";
    for (int i = 0; i < 6; ++i)
      s += (i ? ",\"" : "\"") + Words(1) + "\"";
    s += "],\"geo\":{\"lat\":" + Fixed(Real(-90, 90), 6) + ",\"lon\":" + Fixed(Real(-180, 180), 6) +
         ",\"alt\":" + Fixed(Real(0, 4000), 1) +
         ",\"source\":{\"kind\":\"gps\",\"sats\":" + std::to_string(Int(3, 14)) +
         ",\"hdop\":" + Fixed(Real(0.5, 5), 2) + "}}}";
    return s;
  }

private:
  std::mt19937 random_;
};

} // namespace

std::vector<std::string> SmallBlocks(int count) {
  Maker maker(1);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i)
    out.push_back(maker.Small(i));
  return out;
}

std::vector<std::string> MediumRecords(int count) {
  Maker maker(2);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i)
    out.push_back(maker.Medium(i));
  return out;
}

std::string LargeDocument(size_t bytes) {
  Maker maker(3);
  std::string out = "[";
  for (int i = 0; out.size() < bytes; ++i) {
    if (i)
      out += ",\n";
    out += i % 3 ? maker.Small(i) : maker.Medium(i);
  }
  out += "]";
  return out;
}

} // namespace kestrel::bench
