// A component as the interface translator sees it: its name, class and tag, the properties it
// offers by name, the components it owns, and the font character sets and reading order the
// language file may set. The owner builds it over its own fields; the translator rewrites the
// referenced texts in place.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::translation {

struct TTranslatableComponent;

// One property; exactly one of the references is set.
struct TTranslatableProperty {
  std::string Name;
  std::string* Text = nullptr;                          // a text property
  std::vector<std::string>* Lines = nullptr;            // a string list: each line
  std::vector<TTranslatableComponent>* Items = nullptr; // a collection: each item as a component
  void* Object = nullptr;                               // another object
  std::string ObjectClass;                              // its class, for class translators

  static TTranslatableProperty OfText(std::string name, std::string* text) {
    TTranslatableProperty property;
    property.Name = std::move(name);
    property.Text = text;
    return property;
  }
  static TTranslatableProperty OfLines(std::string name, std::vector<std::string>* lines) {
    TTranslatableProperty property;
    property.Name = std::move(name);
    property.Lines = lines;
    return property;
  }
  static TTranslatableProperty OfItems(std::string name,
                                       std::vector<TTranslatableComponent>* items) {
    TTranslatableProperty property;
    property.Name = std::move(name);
    property.Items = items;
    return property;
  }
};

struct TTranslatableComponent {
  // Tags that steer the walk over owned components.
  static constexpr int32_t kTagSkipTree = 9999;     // neither it nor its children
  static constexpr int32_t kTagChildrenOnly = 9998; // its children, not itself
  static constexpr int32_t kTagCustom = 9997;       // handed to OnCustomTranslate
  static constexpr int32_t kTagExcludeBase = 10000; // + bits of properties left alone
  static constexpr int32_t kTagExcludeLast = 10047;

  std::string Name;
  std::string ClassName;
  int32_t Tag = 0;
  std::vector<TTranslatableProperty> Properties;
  std::vector<TTranslatableComponent> Components;
  int32_t* FontCharset = nullptr;      // the Font's character set, when it has one
  int32_t* FocusFontCharset = nullptr; // the FocusFont's character set, when it has one
  int32_t* BiDiMode = nullptr;         // the reading order, when it has one
  void* Data = nullptr;                // what the owner attaches for its own handlers
};

} // namespace kestrel::translation
