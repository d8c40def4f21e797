// The interface translator of a plug-in module: a language-file translator set up for the
// module (the host's shared "plugins.lng", then the plug-in's own ".lng" file) that translates
// the module's outcome texts and every registered set of message texts. It always starts from
// the English originals, so the module can switch from one language to another and back.
#pragma once

#include "translation/language_translator.h"
#include "framework/module_translator.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::translation {

class TPluginTranslator : public IModuleTranslator {
public:
  // Keeps the module's outcome texts as they are now as the English originals.
  explicit TPluginTranslator(TorvPlugin& module);

  std::vector<std::string> ComponentProperties() const override;
  void AddComponentProperty(std::string_view name) override;
  bool HasLanguageFile() const override;
  void Translate(TorvPlugin& module) override;
  void RegisterTexts(ITranslatableTexts& texts) override;
  void UnregisterTexts(ITranslatableTexts& texts) override;

  TLanguageTranslator& Translator() { return translator_; }

private:
  TLanguageTranslator translator_;
  std::string no_data_;
  std::string write_complete_;
  std::string write_complete_error_;
  std::mutex texts_mutex_;
  std::vector<ITranslatableTexts*> texts_;
};

// The language files of a module: the host program's folder + "plugins.lng", then the
// module's folder + its file name with the extension ".lng", joined by "|".
std::string ModuleLanguageFiles(const TorvPlugin& module);

// The factory the library installs (SetModuleTranslatorFactory): sets up the language files,
// and the module's Language to the default language of the files when the plug-in's own file
// exists; without that file the language files are cleared and nothing is translated.
std::unique_ptr<IModuleTranslator> CreatePluginTranslator(TorvPlugin& module);
// The same with the language files given: "shared|own".
std::unique_ptr<IModuleTranslator> CreatePluginTranslator(TorvPlugin& module,
                                                          const std::string& files);

} // namespace kestrel::translation
