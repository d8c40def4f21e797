// Build-time generator of the options-dialog resources from their readable sources:
//   kestrel-formgen form <form text> <output>
//       the binary form stream of a form written as text
//   kestrel-formgen package <script> <form name file> <property map> <output>
//       the script package: the script's syntax tree, the form name and the property map,
//       separated by CR LF, CR LF, "<=======>", CR LF, CR LF, as one gzip member named "1"
#include "form_text.h"
#include "script_tree.h"

#include <zlib.h>

#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error(std::string("cannot read ") + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const char* path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(data.data(), static_cast<std::streamsize>(data.size())))
    throw std::runtime_error(std::string("cannot write ") + path);
}

// Lines ended by CR LF whatever the source file used, without a final line break.
std::string CrLfLines(const std::string& text) {
  std::string out;
  std::istringstream lines(text);
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!first)
      out += "\r\n";
    out += line;
    first = false;
  }
  return out;
}

// One gzip member with the stored file name "1" and no time stamp, so that a build is
// reproducible.
std::string Gzip(const std::string& data) {
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  gz_header header;
  std::memset(&header, 0, sizeof(header));
  char name[] = "1";
  header.name = reinterpret_cast<Bytef*>(name);
  header.os = 0; // FAT file system, as written on Windows
  deflateSetHeader(&stream, &header);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (result != Z_STREAM_END)
    throw std::runtime_error("deflate failed");
  out.resize(stream.total_out);
  return out;
}

} // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "form" && argc == 4) {
      WriteFile(argv[3], kestrel::formgen::FormTextToBinary(ReadFile(argv[2])));
      return 0;
    }
    if (mode == "package" && argc == 6) {
      static const char kSeparator[] = "\r\n\r\n<=======>\r\n\r\n";
      const std::string form_name = CrLfLines(ReadFile(argv[3]));
      const std::string package = kestrel::formgen::ScriptToXml(ReadFile(argv[2])) + kSeparator +
                                  form_name + kSeparator + CrLfLines(ReadFile(argv[4]));
      WriteFile(argv[5], Gzip(package));
      return 0;
    }
    std::cerr << "usage: kestrel-formgen form TEXT OUT | package SCRIPT NAME MAP OUT\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "kestrel-formgen: " << error.what() << "\n";
    return 1;
  }
}
