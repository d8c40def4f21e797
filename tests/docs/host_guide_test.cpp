// The host guide's tables of commands and parameters name exactly what the library handles: a
// command or parameter the code reads is in the guide, and every name the guide lists is read
// somewhere in the code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A name of the host contract: upper-case letters, digits and dashes, a letter first.
bool IsContractName(const std::string& name) {
  if (name.empty() || name[0] < 'A' || name[0] > 'Z')
    return false;
  for (const char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
      return false;
  return true;
}

// The contract names that follow each `opening` in `text`, up to the next `closing`.
std::set<std::string> NamesAfter(const std::string& text, const std::string& opening,
                                 char closing) {
  std::set<std::string> names;
  for (std::size_t at = text.find(opening); at != std::string::npos;
       at = text.find(opening, at + 1)) {
    const std::size_t start = at + opening.size();
    const std::size_t end = text.find(closing, start);
    if (end != std::string::npos && IsContractName(text.substr(start, end - start)))
      names.insert(text.substr(start, end - start));
  }
  return names;
}

// The first-column names (| `NAME` |) of the table rows in the section with this heading.
std::set<std::string> GuideNames(const std::string& guide, const std::string& heading) {
  const std::size_t start = guide.find("\n## " + heading + "\n");
  if (start == std::string::npos)
    return {};
  const std::size_t end = guide.find("\n## ", start + 1);
  return NamesAfter(guide.substr(start, end - start), "\n| `", '`');
}

// What the module's command dispatch compares the command with, and the parameters it reads
// from a call record, over the framework and the parser module.
struct CodeNames {
  std::set<std::string> commands;
  std::set<std::string> parameters;
};

CodeNames ReadCode() {
  CodeNames names;
  for (const char* folder : {"src/framework", "src/parser"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / folder)) {
      if (entry.path().extension() != ".cpp")
        continue;
      const std::string text = ReadAll(entry.path());
      names.commands.merge(NamesAfter(text, "command == \"", '"'));
      names.parameters.merge(NamesAfter(text, "ReadParam(rec, \"", '"'));
      names.parameters.merge(NamesAfter(text, "TextParam(rec, \"", '"'));
    }
  }
  return names;
}

std::string Missing(const std::set<std::string>& from, const std::set<std::string>& in) {
  std::string missing;
  for (const std::string& name : from)
    if (!in.count(name))
      missing += " " + name;
  return missing;
}

} // namespace

TEST(HostGuide, ListsEveryCommandAndParameterTheCodeHandlesAndNoOther) {
  const std::string guide = ReadAll(fs::path(KESTREL_SOURCE_DIR) / "docs" / "host-guide.md");
  ASSERT_FALSE(guide.empty());
  const CodeNames code = ReadCode();
  // The scan itself must find the host contract's core, or a changed spelling in the code
  // would empty both sides at once.
  ASSERT_TRUE(code.commands.count("LOAD") && code.commands.count("SET-STATE"));
  ASSERT_TRUE(code.parameters.count("MSG-PROC-HANDLE") && code.parameters.count("RESULT"));

  const std::set<std::string> commands = GuideNames(guide, "Commands");
  const std::set<std::string> parameters = GuideNames(guide, "Parameters");
  EXPECT_EQ(Missing(code.commands, commands), "") << "commands the guide does not list";
  EXPECT_EQ(Missing(commands, code.commands), "") << "commands the code does not handle";
  EXPECT_EQ(Missing(code.parameters, parameters), "") << "parameters the guide does not list";
  EXPECT_EQ(Missing(parameters, code.parameters), "") << "parameters the code does not read";
}
