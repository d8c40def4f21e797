// Prints the records the plug-in delivered: as an aligned table, as CSV or as JSON lines.
#pragma once

#include "variant_text.h"

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace kestrel::host {

enum class OutputFormat { Table, Csv, JsonLines };

struct NamedValue {
  std::string name; // UTF-8
  ValueText value;
};

// One parsed record with where it came from.
struct Record {
  uint64_t number = 0; // 1, 2, ... over the whole run
  int32_t source = 0;
  int32_t client = 0;
  std::vector<NamedValue> values;
};

class RowWriter {
public:
  // Names in `hidden` (compared without regard to ASCII case) are left out of every record.
  RowWriter(std::FILE* out, OutputFormat format, const std::vector<std::string>& hidden);

  void Write(const Record& record);

private:
  bool Hidden(const std::string& name) const;
  void WriteTable(const Record& record);
  void WriteCsv(const Record& record);
  void WriteJson(const Record& record);

  std::FILE* out_;
  OutputFormat format_;
  std::set<std::string> hidden_; // lower case
};

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text);

} // namespace kestrel::host
