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

class IModuleTranslator {
public:
  virtual ~IModuleTranslator() = default;

  // The names of the properties it translates, in order.
  virtual std::vector<std::string> ComponentProperties() const = 0;
  virtual void AddComponentProperty(std::string_view name) = 0;
  // Whether a language file is set: without one nothing is ever translated.
  virtual bool HasLanguageFile() const = 0;
  // Translates the module's texts into the module's Language.
  virtual void Translate(TorvPlugin& module) = 0;
};

// Called while the module is being constructed, after its own fields are set: creates the
// translator, sets up the language files and sets the module's Language (to the default
// language of the files, "EN" without them).
using ModuleTranslatorFactory = std::unique_ptr<IModuleTranslator> (*)(TorvPlugin& module);

void SetModuleTranslatorFactory(ModuleTranslatorFactory factory);
ModuleTranslatorFactory GetModuleTranslatorFactory();

} // namespace kestrel
