#include "row_writer.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kestrel::host {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Table cells stay on one line and within a readable width; the other formats keep every byte.
std::string TableCell(const std::string& text) {
  constexpr std::size_t kWidth = 72;
  std::string cell;
  for (const char c : text)
    cell.push_back(c == '\r' || c == '\n' || c == '\t' ? ' ' : c);
  if (cell.size() > kWidth) {
    std::size_t cut = kWidth - 3;
    while (cut > 0 && (static_cast<unsigned char>(cell[cut]) & 0xC0) == 0x80)
      --cut; // not inside a UTF-8 sequence
    cell.resize(cut);
    cell += "...";
  }
  return cell;
}

} // namespace

void AppendCsvField(std::string& line, std::string_view text) {
  // The bytes that make a field quoted: a separator, a quote, a line break.
  static constexpr auto kSpecial = [] {
    std::array<bool, 256> special{};
    for (const unsigned char c : {',', '"', '\r', '\n'})
      special[c] = true;
    return special;
  }();
  if (std::none_of(text.begin(), text.end(),
                   [](char c) { return kSpecial[static_cast<unsigned char>(c)]; })) {
    line += text;
    return;
  }
  // Quoted, each quote doubled: the text is copied in runs between its quotes.
  line += '"';
  for (std::size_t at = 0;;) {
    const std::size_t quote = text.find('"', at);
    if (quote == std::string_view::npos) {
      line.append(text.substr(at));
      break;
    }
    line.append(text.substr(at, quote + 1 - at));
    line += '"';
    at = quote + 1;
  }
  line += '"';
}

std::string CsvField(const std::string& text) {
  std::string out;
  AppendCsvField(out, text);
  return out;
}

RowWriter::RowWriter(std::FILE* out, OutputFormat format, const std::vector<std::string>& hidden,
                     std::FILE* err)
    : out_(out), err_(err), format_(format) {
  for (const std::string& name : hidden)
    hidden_.insert(Lower(name));
}

void RowWriter::FixColumns(std::vector<std::string> columns) {
  columns_.clear();
  for (std::string& column : columns)
    if (!Hidden(column))
      columns_.push_back(std::move(column));
  format_ = OutputFormat::Csv;
}

bool RowWriter::Hidden(const std::string& name) const {
  return !hidden_.empty() && hidden_.count(Lower(name)) != 0;
}

void RowWriter::Write(const Record& record) {
  switch (format_) {
  case OutputFormat::Table:
    WriteTable(record);
    break;
  case OutputFormat::Csv:
    WriteCsv(record);
    break;
  case OutputFormat::JsonLines:
    WriteJson(record);
    break;
  }
}

void RowWriter::Flush() {
  std::fflush(out_);
}

void RowWriter::WriteTable(const Record& record) {
  std::size_t name_width = 4, type_width = 4;
  for (const NamedValue& item : record.values) {
    if (Hidden(item.name))
      continue;
    name_width = std::max(name_width, item.name.size());
    type_width = std::max(type_width, item.value.type.size());
  }
  std::fprintf(out_, "record %llu  source %d  client %d\n",
               static_cast<unsigned long long>(record.number), record.source, record.client);
  const int nw = static_cast<int>(name_width), tw = static_cast<int>(type_width);
  std::fprintf(out_, "  %-*s  %-*s  %s\n", nw, "name", tw, "type", "value");
  for (const NamedValue& item : record.values)
    if (!Hidden(item.name))
      std::fprintf(out_, "  %-*s  %-*s  %s\n", nw, item.name.c_str(), tw, item.value.type.c_str(),
                   TableCell(item.value.text).c_str());
  std::fputc('\n', out_);
}

void RowWriter::WriteCsvColumns(const Record& record) {
  std::string line;
  if (!header_written_) {
    line = "record,source,client";
    for (const std::string& column : columns_) {
      line += ',';
      line += CsvField(column);
    }
    line += '\n';
    header_written_ = true;
  }
  std::map<std::string, const std::string*> values;
  for (const NamedValue& item : record.values) {
    if (Hidden(item.name))
      continue;
    if (std::find(columns_.begin(), columns_.end(), item.name) == columns_.end()) {
      ++dropped_;
      if (warned_.insert(item.name).second)
        std::fprintf(err_,
                     "kestrel-host: warning: record %llu has a value \"%s\" without a CSV column; "
                     "it is left out (and any later value of that name, counted)\n",
                     static_cast<unsigned long long>(record.number), item.name.c_str());
      continue;
    }
    if (!values.emplace(item.name, &item.value.text).second) {
      // One field per column: a name given twice keeps its first value.
      ++dropped_;
      if (warned_twice_.insert(item.name).second)
        std::fprintf(err_,
                     "kestrel-host: warning: record %llu has the value \"%s\" twice; the CSV "
                     "column keeps the first (later repeats are counted)\n",
                     static_cast<unsigned long long>(record.number), item.name.c_str());
    }
  }
  for (const int64_t number :
       {static_cast<int64_t>(record.number), static_cast<int64_t>(record.source),
        static_cast<int64_t>(record.client)}) {
    line += std::to_string(number);
    line += ',';
  }
  line.pop_back();
  for (const std::string& column : columns_) {
    const auto found = values.find(column);
    line += ',';
    if (found != values.end())
      line += CsvField(*found->second);
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
}

void RowWriter::WriteCsv(const Record& record) {
  if (!columns_.empty()) {
    WriteCsvColumns(record);
    return;
  }
  std::string& line = line_;
  line = std::to_string(record.number);
  for (const int32_t number : {record.source, record.client}) {
    line += ',';
    line += std::to_string(number);
  }
  for (const NamedValue& item : record.values) {
    if (Hidden(item.name))
      continue;
    for (const std::string* field : {&item.name, &item.value.type, &item.value.text}) {
      line += ',';
      AppendCsvField(line, *field);
    }
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
}

void RowWriter::WriteJson(const Record& record) {
  std::string line = "{\"record\":" + std::to_string(record.number) +
                     ",\"source\":" + std::to_string(record.source) +
                     ",\"client\":" + std::to_string(record.client) + ",\"values\":[";
  bool first = true;
  for (const NamedValue& item : record.values) {
    if (Hidden(item.name))
      continue;
    line += first ? "" : ",";
    first = false;
    line += "{\"name\":" + JsonQuote(item.name) + ",\"type\":\"" + item.value.type +
            "\",\"value\":" + item.value.json + "}";
  }
  line += "]}\n";
  std::fwrite(line.data(), 1, line.size(), out_);
}

} // namespace kestrel::host
