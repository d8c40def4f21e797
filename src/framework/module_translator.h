// What the module object asks of its interface translator. The translator itself (language
// files, dictionary, component walk) lives above the framework; it makes itself known at
// library load with SetModuleTranslatorFactory, and every module created afterwards gets one.
// Without a factory modules have no translator: their texts stay as written.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class TorvPlugin;

// A set of texts translated as a whole, such as a module's message texts: the translator
// starts from the English originals every time and hands back the translated set in one
// piece, so readers on other threads see either the old or the new set.
class ITranslatableTexts {
public:
  virtual ~ITranslatableTexts() = default;
  virtual std::vector<std::string> OriginalTexts() const = 0;
  virtual void SetTexts(std::vector<std::string> texts) = 0;
};

class IModuleTranslator {
public:
  virtual ~IModuleTranslator() = default;

  // The names of the properties it translates, in order.
  virtual std::vector<std::string> ComponentProperties() const = 0;
  virtual void AddComponentProperty(std::string_view name) = 0;
  // Whether a language file is set: without one nothing is ever translated.
  virtual bool HasLanguageFile() const = 0;
  // Translates the module's texts, and every registered set of texts, from their English
  // originals into the module's Language.
  virtual void Translate(TorvPlugin& module) = 0;
  // Adds a set of texts to what Translate covers; the set must stay alive until it is
  // unregistered or the translator is gone.
  virtual void RegisterTexts(ITranslatableTexts&) {}
  virtual void UnregisterTexts(ITranslatableTexts&) {}
};

// Called while the module is being constructed, after its own fields are set: creates the
// translator, sets up the language files and sets the module's Language (to the default
// language of the files, "EN" without them).
using ModuleTranslatorFactory = std::unique_ptr<IModuleTranslator> (*)(TorvPlugin& module);

void SetModuleTranslatorFactory(ModuleTranslatorFactory factory);
ModuleTranslatorFactory GetModuleTranslatorFactory();

} // namespace kestrel
