#include "script_tree.h"

#include <cctype>
#include <stdexcept>
#include <vector>

namespace kestrel::formgen {

namespace {

struct Token {
  enum Kind { End, Name, Number, Text, Symbol } kind = End;
  std::string text;
  int line = 1;
  int column = 1;
  std::string Pos() const { return std::to_string(line) + ":" + std::to_string(column); }
};

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      if (static_cast<unsigned char>(c) < 0x20)
        out += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
      else
        out += c;
    }
  }
  return out;
}

class Lexer {
public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> All() {
    std::vector<Token> tokens;
    for (;;) {
      SkipSpaceAndComments();
      Token token;
      token.line = line_;
      token.column = static_cast<int>(pos_ - line_start_) + 1;
      if (pos_ >= text_.size()) {
        tokens.push_back(token);
        return tokens;
      }
      const char c = text_[pos_];
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        token.kind = Token::Name;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
          token.text += text_[pos_++];
      } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '$') {
        token.kind = Token::Number;
        token.text += text_[pos_++];
        while (pos_ < text_.size() &&
               (std::isxdigit(static_cast<unsigned char>(text_[pos_])) ||
                (text_[pos_] == '.' && pos_ + 1 < text_.size() && text_[pos_ + 1] != '.')))
          token.text += text_[pos_++];
      } else if (c == '\'' || c == '#') {
        token.kind = Token::Text;
        while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
          if (text_[pos_] == '#') {
            std::string digits;
            for (++pos_;
                 pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]));)
              digits += text_[pos_++];
            if (digits.empty())
              Fail(token, "character code expected");
            token.text += static_cast<char>(std::stoi(digits));
            continue;
          }
          for (++pos_;; ++pos_) {
            if (pos_ >= text_.size() || text_[pos_] == '\n')
              Fail(token, "unterminated string");
            if (text_[pos_] == '\'') {
              if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                token.text += '\'';
                ++pos_;
                continue;
              }
              ++pos_;
              break;
            }
            token.text += text_[pos_];
          }
        }
      } else {
        token.kind = Token::Symbol;
        static const char* const kPairs[] = {":=", "<=", ">=", "<>", ".."};
        for (const char* pair : kPairs)
          if (text_.substr(pos_, 2) == pair)
            token.text = pair;
        if (token.text.empty())
          token.text = std::string(1, c);
        pos_ += token.text.size();
      }
      tokens.push_back(token);
    }
  }

private:
  [[noreturn]] static void Fail(const Token& at, const std::string& what) {
    throw std::runtime_error(at.Pos() + ": " + what);
  }
  void Advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      line_start_ = pos_ + 1;
    }
    ++pos_;
  }
  void SkipSpaceAndComments() {
    for (;;) {
      while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
        Advance();
      if (text_.substr(pos_, 2) == "//") {
        while (pos_ < text_.size() && text_[pos_] != '\n')
          ++pos_;
      } else if (pos_ < text_.size() && text_[pos_] == '{') {
        while (pos_ < text_.size() && text_[pos_] != '}')
          Advance();
        ++pos_;
      } else if (text_.substr(pos_, 2) == "(*") {
        while (pos_ < text_.size() && text_.substr(pos_, 2) != "*)")
          Advance();
        pos_ += 2;
      } else {
        return;
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_start_ = 0;
  int line_ = 1;
};

class Parser {
public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  std::string Program() {
    const Token& first = Peek();
    std::string name;
    if (IsWord("program")) {
      Next();
      name = Ident();
      Symbol(";");
    }
    Open("program", first, {{"name", name}});
    if (IsWord("uses")) {
      Next();
      do {
        Ident();
      } while (TakeSymbol(","));
      Symbol(";");
    }
    Declarations();
    Compound();
    Symbol(".");
    Close("program");
    if (Peek().kind != Token::End)
      Fail("text after the end of the program");
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + out_;
  }

private:
  const Token& Peek(std::size_t ahead = 0) const {
    return tokens_[std::min(index_ + ahead, tokens_.size() - 1)];
  }
  const Token& Next() {
    const Token& token = Peek();
    if (index_ < tokens_.size() - 1)
      ++index_;
    return token;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error(Peek().Pos() + ": " + what + " at '" + Peek().text + "'");
  }
  bool IsWord(std::string_view word) const {
    return Peek().kind == Token::Name && Lower(Peek().text) == word;
  }
  bool IsSymbol(std::string_view symbol) const {
    return Peek().kind == Token::Symbol && Peek().text == symbol;
  }
  bool TakeSymbol(std::string_view symbol) {
    if (!IsSymbol(symbol))
      return false;
    Next();
    return true;
  }
  void Symbol(std::string_view symbol) {
    if (!TakeSymbol(symbol))
      Fail("'" + std::string(symbol) + "' expected");
  }
  void Word(std::string_view word) {
    if (!IsWord(word))
      Fail("'" + std::string(word) + "' expected");
    Next();
  }
  std::string Ident() {
    if (Peek().kind != Token::Name)
      Fail("name expected");
    return Next().text;
  }

  using Attributes = std::vector<std::pair<std::string, std::string>>;
  std::string Tag(const std::string& name, const Token& at, const Attributes& attributes) {
    std::string tag = "<" + name + " pos=\"" + at.Pos() + "\"";
    for (const auto& [key, value] : attributes)
      tag += " " + key + "=\"" + Escape(value) + "\"";
    return tag;
  }
  void Open(const std::string& name, const Token& at, const Attributes& attributes = {}) {
    out_ += Tag(name, at, attributes) + ">";
  }
  void Leaf(const std::string& name, const Token& at, const Attributes& attributes = {}) {
    out_ += Tag(name, at, attributes) + "/>";
  }
  void Close(const std::string& name) { out_ += "</" + name + ">"; }

  // ---- Declarations -----------------------------------------------------------------------
  void Declarations() {
    for (;;) {
      if (IsWord("var")) {
        Next();
        while (Peek().kind == Token::Name && !IsKeyword())
          VarGroup("");
      } else if (IsWord("const")) {
        Next();
        while (Peek().kind == Token::Name && !IsKeyword()) {
          const Token at = Peek();
          const std::string name = Ident();
          Symbol("=");
          Open("const", at, {{"name", name}});
          Expression();
          Close("const");
          Symbol(";");
        }
      } else if (IsWord("procedure") || IsWord("function")) {
        Procedure();
      } else {
        return;
      }
    }
  }
  bool IsKeyword() const {
    static const char* const kWords[] = {"var", "const", "procedure", "function", "begin"};
    for (const char* word : kWords)
      if (IsWord(word))
        return true;
    return false;
  }
  // "a, b: Type;" (or up to ")" inside parameters), with the parameter's modifier.
  void VarGroup(const std::string& modifier) {
    std::vector<Token> names;
    do {
      names.push_back(Peek());
      Ident();
    } while (TakeSymbol(","));
    std::string type;
    if (TakeSymbol(":")) {
      type = Ident();
      while (TakeSymbol(".")) {
        type += '.';
        type += Ident();
      }
    }
    for (const Token& name : names) {
      Attributes attributes = {{"name", name.text}, {"type", type}};
      if (!modifier.empty())
        attributes.push_back({"modifier", modifier});
      Leaf("var", name, attributes);
    }
    if (modifier.empty() || !IsSymbol(")"))
      Symbol(";");
  }
  void Procedure() {
    const Token at = Next();
    const bool is_function = Lower(at.text) == "function";
    const std::string name = Ident();
    std::string parameters_xml;
    const std::string saved = std::move(out_);
    out_.clear();
    if (TakeSymbol("(")) {
      while (!IsSymbol(")")) {
        std::string modifier = "value";
        if (IsWord("var") || IsWord("const"))
          modifier = Lower(Next().text);
        VarGroup(modifier);
      }
      Next();
    }
    parameters_xml = std::move(out_);
    out_ = saved;
    std::string result;
    if (is_function) {
      Symbol(":");
      result = Ident();
    }
    Symbol(";");
    Attributes attributes = {{"name", name}};
    if (is_function)
      attributes.push_back({"result", result});
    Open("procedure", at, attributes);
    Open("parameters", at);
    out_ += parameters_xml;
    Close("parameters");
    Declarations();
    Compound();
    Symbol(";");
    Close("procedure");
  }

  // ---- Statements -------------------------------------------------------------------------
  void Compound() {
    const Token at = Peek();
    Word("begin");
    Open("compoundstmt", at);
    StatementList({"end"});
    Word("end");
    Close("compoundstmt");
  }
  bool AtAnyWord(std::initializer_list<std::string_view> words) const {
    for (std::string_view word : words)
      if (IsWord(word))
        return true;
    return false;
  }
  void StatementList(std::initializer_list<std::string_view> enders) {
    while (!AtAnyWord(enders)) {
      Statement();
      if (!TakeSymbol(";") && !AtAnyWord(enders))
        Fail("';' expected");
    }
  }
  void Statement() {
    const Token at = Peek();
    if (IsSymbol(";") || AtAnyWord({"end", "else", "finally"}))
      return; // the empty statement
    if (IsWord("begin"))
      return Compound();
    if (IsWord("if")) {
      Next();
      Open("ifstmt", at);
      Expression();
      const Token then_at = Peek();
      Word("then");
      Open("thenstmt", then_at);
      Statement();
      Close("thenstmt");
      if (IsWord("else")) {
        Open("elsestmt", Next());
        Statement();
        Close("elsestmt");
      }
      return Close("ifstmt");
    }
    if (IsWord("case")) {
      Next();
      Open("casestmt", at);
      Expression();
      Word("of");
      while (!IsWord("end") && !IsWord("else")) {
        Open("caseselector", Peek());
        do {
          Expression();
        } while (TakeSymbol(","));
        Symbol(":");
        Statement();
        Close("caseselector");
        if (!TakeSymbol(";") && !IsWord("end") && !IsWord("else"))
          Fail("';' expected");
      }
      if (IsWord("else")) {
        Open("elsestmt", Next());
        StatementList({"end"});
        Close("elsestmt");
      }
      Word("end");
      return Close("casestmt");
    }
    if (IsWord("for")) {
      Next();
      const Token var_at = Peek();
      const std::string variable = Ident();
      Symbol(":=");
      const std::string saved = std::move(out_);
      out_.clear();
      Expression();
      std::string range = std::move(out_);
      out_.clear();
      std::string direction = "to";
      if (IsWord("downto"))
        direction = "downto";
      else if (!IsWord("to"))
        Fail("'to' expected");
      Next();
      Expression();
      range += out_;
      out_ = saved;
      Open("forstmt", at, {{"variable", variable}, {"direction", direction}});
      Open("dsgn", var_at);
      Leaf("node", var_at, {{"name", variable}});
      Close("dsgn");
      out_ += range;
      Word("do");
      Statement();
      return Close("forstmt");
    }
    if (IsWord("try")) {
      Next();
      Open("trystmt", at);
      Open("compoundstmt", at);
      StatementList({"finally"});
      Close("compoundstmt");
      Open("finallystmt", Peek());
      Word("finally");
      StatementList({"end"});
      Word("end");
      Close("finallystmt");
      return Close("trystmt");
    }
    if (IsWord("exit")) {
      Next();
      return Leaf("exit", at);
    }
    if (IsWord("break")) {
      Next();
      return Leaf("break", at);
    }
    // An assignment or a call, both starting with a designator.
    const std::string saved = std::move(out_);
    out_.clear();
    Designator();
    std::string target = std::move(out_);
    out_ = saved;
    if (TakeSymbol(":=")) {
      Open("assignstmt", at);
      out_ += target;
      Expression();
      return Close("assignstmt");
    }
    Open("callstmt", at);
    out_ += target;
    Close("callstmt");
  }

  // ---- Expressions --------------------------------------------------------------------------
  // Each precedence level with an operator becomes an "expr" holding its operands and "op"
  // elements in source order; a level without one adds nothing.
  void Expression() {
    const Token at = Peek();
    Open("expr", at);
    Level(0);
    Close("expr");
  }
  bool AtOperator(int level) const {
    static const std::vector<std::vector<std::string_view>> kOperators = {
        {"=", "<>", "<", ">", "<=", ">=", "in", "is"},
        {"+", "-", "or", "xor"},
        {"*", "/", "div", "mod", "and", "shl", "shr"}};
    for (std::string_view op : kOperators[static_cast<std::size_t>(level)]) {
      if (Peek().kind == Token::Symbol && Peek().text == op)
        return true;
      if (Peek().kind == Token::Name && Lower(Peek().text) == op)
        return true;
    }
    return false;
  }
  void Level(int level) {
    if (level == 3)
      return Factor();
    const Token at = Peek();
    const std::string saved = std::move(out_);
    out_.clear();
    Level(level + 1);
    if (!AtOperator(level)) {
      out_ = saved + out_;
      return;
    }
    std::string operands = std::move(out_);
    while (AtOperator(level)) {
      const Token op = Next();
      out_.clear();
      Leaf("op", op, {{"name", Lower(op.text)}});
      operands += out_;
      out_.clear();
      Level(level + 1);
      operands += out_;
    }
    out_ = saved;
    Open("expr", at);
    out_ += operands;
    Close("expr");
  }
  void Factor() {
    const Token at = Peek();
    if (IsWord("not") || IsSymbol("-") || IsSymbol("+")) {
      const Token op = Next();
      Open("expr", at);
      Leaf("op", op, {{"name", Lower(op.text)}});
      Factor();
      return Close("expr");
    }
    if (at.kind == Token::Number) {
      Next();
      return Leaf("number", at, {{"value", at.text}});
    }
    if (at.kind == Token::Text) {
      Next();
      return Leaf("string", at, {{"value", at.text}});
    }
    if (IsSymbol("(")) {
      Next();
      Expression();
      Symbol(")");
      return;
    }
    if (IsSymbol("[")) {
      Next();
      Open("set", at);
      while (!IsSymbol("]")) {
        Expression();
        if (!TakeSymbol(",") && !IsSymbol("]"))
          Fail("',' expected");
      }
      Next();
      return Close("set");
    }
    if (IsSymbol("@")) {
      Next();
      Open("addr", at);
      Designator();
      return Close("addr");
    }
    if (at.kind == Token::Name)
      return Designator();
    Fail("expression expected");
  }
  // "a.b[i].c(x, y)": one "node" per name; a node holds its call arguments as "expr"
  // elements; an index is a node named "[]" holding the index expressions.
  void Designator() {
    Open("dsgn", Peek());
    for (;;) {
      const Token at = Peek();
      const std::string name = Ident();
      if (IsSymbol("(")) {
        Next();
        Open("node", at, {{"name", name}, {"call", "1"}});
        while (!IsSymbol(")")) {
          Expression();
          if (!TakeSymbol(",") && !IsSymbol(")"))
            Fail("',' expected");
        }
        Next();
        Close("node");
      } else {
        Leaf("node", at, {{"name", name}});
      }
      while (IsSymbol("[")) {
        Open("node", Next(), {{"name", "[]"}});
        do {
          Expression();
        } while (TakeSymbol(","));
        Symbol("]");
        Close("node");
      }
      if (!TakeSymbol("."))
        break;
    }
    Close("dsgn");
  }

  std::vector<Token> tokens_;
  std::size_t index_ = 0;
  std::string out_;
};

} // namespace

std::string ScriptToXml(std::string_view script) {
  return Parser(Lexer(script).All()).Program();
}

} // namespace kestrel::formgen
