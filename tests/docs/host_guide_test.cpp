// The host guide's tables of commands and parameters name exactly what the library handles: a
// command or parameter the code reads is in the guide, and every name the guide lists is read
// somewhere in the code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
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

std::set<std::string> Matches(const std::string& text, const std::regex& pattern) {
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it)
    names.insert((*it)[1].str());
  return names;
}

// The first-column names (| `NAME` |) of the table rows in the section with this heading.
std::set<std::string> GuideNames(const std::string& guide, const std::string& heading) {
  const std::size_t start = guide.find("\n## " + heading + "\n");
  if (start == std::string::npos)
    return {};
  const std::size_t end = guide.find("\n## ", start + 1);
  return Matches(guide.substr(start, end - start), std::regex(R"(\n\| `([A-Z][A-Z0-9-]*)` \|)"));
}

// What the module's command dispatch compares the command with, and the parameters it reads
// from a call record, over the framework and the parser module.
struct CodeNames {
  std::set<std::string> commands;
  std::set<std::string> parameters;
};

CodeNames ReadCode() {
  CodeNames names;
  const std::regex command(R"re(command == "([A-Z][A-Z0-9-]*)")re");
  const std::regex parameter(R"re((?:ReadParam|TextParam)\(rec, "([A-Z][A-Z0-9-]*)"\))re");
  for (const char* folder : {"src/framework", "src/parser"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / folder)) {
      if (entry.path().extension() != ".cpp")
        continue;
      const std::string text = ReadAll(entry.path());
      names.commands.merge(Matches(text, command));
      names.parameters.merge(Matches(text, parameter));
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
