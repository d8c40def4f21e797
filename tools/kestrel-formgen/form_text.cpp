#include "form_text.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace kestrel::formgen {

namespace {

// Value type codes of the binary form stream.
enum ValueType : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaInt64 = 19,
  vaUTF8String = 20,
};

class Writer {
public:
  std::string out;
  void Byte(uint8_t b) { out.push_back(static_cast<char>(b)); }
  void Int(int64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      Byte(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
  }
  void Short(std::string_view text) {
    if (text.size() > 255)
      throw std::runtime_error("name longer than 255 characters: " + std::string(text));
    Byte(static_cast<uint8_t>(text.size()));
    out.append(text);
  }
  void Integer(int64_t value) {
    if (value >= INT8_MIN && value <= INT8_MAX) {
      Byte(vaInt8);
      Int(value, 1);
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
      Byte(vaInt16);
      Int(value, 2);
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
      Byte(vaInt32);
      Int(value, 4);
    } else {
      Byte(vaInt64);
      Int(value, 8);
    }
  }
  // The 80-bit extended format: sign and 15-bit exponent (bias 16383) over a 64-bit mantissa
  // with an explicit integer bit.
  void Extended(double value) {
    Byte(vaExtended);
    uint64_t mantissa = 0;
    uint16_t top = 0;
    if (value != 0) {
      int exponent = 0;
      const double fraction = std::frexp(std::fabs(value), &exponent); // [0.5, 1)
      mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
      top = static_cast<uint16_t>(exponent - 1 + 16383);
    }
    if (std::signbit(value))
      top |= 0x8000;
    Int(static_cast<int64_t>(mantissa), 8);
    Int(top, 2);
  }
  void String(std::string_view text) {
    bool ascii = true;
    for (char c : text)
      ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) {
      Byte(vaUTF8String);
      Int(static_cast<int64_t>(text.size()), 4);
    } else if (text.size() <= 255) {
      Byte(vaString);
      Byte(static_cast<uint8_t>(text.size()));
    } else {
      Byte(vaLString);
      Int(static_cast<int64_t>(text.size()), 4);
    }
    out.append(text);
  }
};

struct Token {
  enum Kind { End, Name, Number, Text, Symbol } kind = End;
  std::string text;
  int line = 0;
};

class Reader {
public:
  explicit Reader(std::string_view text) : text_(text) { Next(); }

  void Component(Writer& w) {
    const std::string keyword = Lower(Expect(Token::Name).text);
    if (keyword != "object" && keyword != "inherited" && keyword != "inline")
      Fail("'object' expected");
    const std::string name = Expect(Token::Name).text;
    Symbol(":");
    const std::string cls = Expect(Token::Name).text;
    w.Short(cls);
    w.Short(name);
    // Properties up to the first child or the end.
    while (!IsWord("end") && !IsWord("object") && !IsWord("inherited") && !IsWord("inline"))
      Property(w);
    w.Byte(0);
    while (!IsWord("end"))
      Component(w);
    Next();
    w.Byte(0);
  }
  bool AtEnd() const { return token_.kind == Token::End; }

private:
  static std::string Lower(std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c + 32);
    return text;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("line " + std::to_string(token_.line) + ": " + what + " at '" +
                             token_.text + "'");
  }
  bool IsWord(std::string_view word) const {
    return token_.kind == Token::Name && Lower(token_.text) == word;
  }
  bool IsSymbol(std::string_view symbol) const {
    return token_.kind == Token::Symbol && token_.text == symbol;
  }
  Token Expect(Token::Kind kind) {
    if (token_.kind != kind)
      Fail("unexpected token");
    Token taken = token_;
    Next();
    return taken;
  }
  void Symbol(std::string_view symbol) {
    if (!IsSymbol(symbol))
      Fail("'" + std::string(symbol) + "' expected");
    Next();
  }

  void Property(Writer& w) {
    std::string name = Expect(Token::Name).text;
    while (IsSymbol(".")) {
      Next();
      name += '.';
      name += Expect(Token::Name).text;
    }
    Symbol("=");
    w.Short(name);
    Value(w);
  }

  void Value(Writer& w) {
    if (token_.kind == Token::Number) {
      const std::string number = token_.text;
      Next();
      if (number.find_first_of(".eE") != std::string::npos && number[0] != '$')
        w.Extended(std::strtod(number.c_str(), nullptr));
      else if (number[0] == '$')
        w.Integer(static_cast<int64_t>(std::strtoull(number.c_str() + 1, nullptr, 16)));
      else if (number[0] == '-' && number[1] == '$')
        w.Integer(-static_cast<int64_t>(std::strtoull(number.c_str() + 2, nullptr, 16)));
      else
        w.Integer(std::strtoll(number.c_str(), nullptr, 10));
    } else if (token_.kind == Token::Text) {
      std::string text = token_.text;
      Next();
      while (IsSymbol("+")) {
        Next();
        text += Expect(Token::Text).text;
      }
      w.String(text);
    } else if (token_.kind == Token::Name) {
      const std::string word = token_.text;
      Next();
      const std::string lower = Lower(word);
      if (lower == "true")
        w.Byte(vaTrue);
      else if (lower == "false")
        w.Byte(vaFalse);
      else if (lower == "nil")
        w.Byte(vaNil);
      else {
        std::string ident = word;
        while (IsSymbol(".")) {
          Next();
          ident += '.';
          ident += Expect(Token::Name).text;
        }
        w.Byte(vaIdent);
        w.Short(ident);
      }
    } else if (IsSymbol("[")) {
      Next();
      w.Byte(vaSet);
      while (!IsSymbol("]")) {
        w.Short(Expect(Token::Name).text);
        if (IsSymbol(","))
          Next();
      }
      Next();
      w.Byte(0);
    } else if (IsSymbol("(")) {
      Next();
      w.Byte(vaList);
      while (!IsSymbol(")"))
        Value(w);
      Next();
      w.Byte(vaNull);
    } else if (IsSymbol("<")) {
      Next();
      w.Byte(vaCollection);
      while (IsWord("item")) {
        Next();
        w.Byte(vaList);
        while (!IsWord("end"))
          Property(w);
        Next();
        w.Byte(0);
      }
      Symbol(">");
      w.Byte(vaNull);
    } else if (IsSymbol("{")) {
      std::string bytes;
      std::string digits;
      for (++pos_; pos_ < text_.size() && text_[pos_] != '}'; ++pos_)
        if (std::isxdigit(static_cast<unsigned char>(text_[pos_])))
          digits += text_[pos_];
      if (pos_ >= text_.size() || digits.size() % 2)
        Fail("bad binary value");
      ++pos_;
      for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
      w.Byte(vaBinary);
      w.Int(static_cast<int64_t>(bytes.size()), 4);
      w.out += bytes;
      Next();
    } else {
      Fail("value expected");
    }
  }

  // Reads the next token; "{" is returned as a symbol with the read position just after it.
  void Next() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      if (text_[pos_] == '\n')
        ++line_;
      ++pos_;
    }
    token_ = Token();
    token_.line = line_;
    if (pos_ >= text_.size())
      return;
    const char c = text_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      const std::size_t start = pos_;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        ++pos_;
      token_.kind = Token::Name;
      token_.text = std::string(text_.substr(start, pos_ - start));
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '$' ||
               (c == '-' && pos_ + 1 < text_.size() &&
                (std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])) ||
                 text_[pos_ + 1] == '$'))) {
      const std::size_t start = pos_++;
      while (pos_ < text_.size() &&
             (std::isxdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
              text_[pos_] == 'e' || text_[pos_] == 'E' || text_[pos_] == '+' ||
              (text_[pos_] == '-' && (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E'))))
        ++pos_;
      token_.kind = Token::Number;
      token_.text = std::string(text_.substr(start, pos_ - start));
    } else if (c == '\'' || c == '#') {
      // Quoted parts and #nn character codes run together.
      token_.kind = Token::Text;
      while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
        if (text_[pos_] == '#') {
          const std::size_t start = ++pos_;
          while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
          token_.text +=
              static_cast<char>(std::stoi(std::string(text_.substr(start, pos_ - start))));
          continue;
        }
        ++pos_;
        for (;;) {
          if (pos_ >= text_.size() || text_[pos_] == '\n')
            Fail("unterminated string");
          if (text_[pos_] == '\'') {
            if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
              token_.text += '\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          token_.text += text_[pos_++];
        }
      }
    } else {
      token_.kind = Token::Symbol;
      token_.text = std::string(1, c);
      if (c != '{')
        ++pos_;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Token token_;
};

} // namespace

std::string FormTextToBinary(std::string_view text) {
  Writer w;
  w.out = "TPF0";
  Reader reader(text);
  reader.Component(w);
  if (!reader.AtEnd())
    throw std::runtime_error("text after the form's last 'end'");
  return w.out;
}

} // namespace kestrel::formgen
