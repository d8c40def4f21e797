#include "translation/plugin_translator.h"

#include "framework/orv_plugin_module.h"
#include "platform/system.h"

#include <algorithm>
#include <fstream>

namespace kestrel::translation {

namespace {

std::string Folder(const std::string& path) {
  const std::size_t separator = path.find_last_of(platform::PathSeparator());
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// The module's file name with `extension` in place of its own. A shared object's extension is
// ".so" with the version after it (libkestrel.so.5.0.0): its language file is libkestrel.lng
// whichever of its names loaded it.
std::string WithExtension(const std::string& name, const std::string& extension) {
  const std::size_t so = name.rfind(".so");
  if (so != std::string::npos && so > 0 &&
      (so + 3 == name.size() ||
       (name[so + 3] == '.' && name.find_first_not_of("0123456789.", so + 3) == std::string::npos)))
    return name.substr(0, so) + extension;
  const std::size_t dot = name.find_last_of('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

// A registered set of texts in the component tree: its texts as lines of a string list.
struct TextSetNode {
  ITranslatableTexts* set;
  std::vector<std::string> texts;
};

} // namespace

std::string ModuleLanguageFiles(const TorvPlugin& module) {
  return Folder(platform::ModuleFileName(nullptr)) + "plugins.lng|" + module.ModulePath +
         WithExtension(module.ModuleName, ".lng");
}

TPluginTranslator::TPluginTranslator(TorvPlugin& module)
    : no_data_(module.MsgNoData.Get()), write_complete_(module.MsgWriteComplete.Get()),
      write_complete_error_(module.MsgWriteCompleteError.Get()) {
  // Sets of message texts are components of their own (tag 9997): each of their texts is
  // looked up as a whole set, never property by property.
  translator_.OnCustomTranslate = [this](TTranslatableComponent& component) {
    if (component.Tag != TTranslatableComponent::kTagCustom || !component.Data)
      return;
    for (std::string& text : static_cast<TextSetNode*>(component.Data)->texts)
      text = translator_.TranslateText(text);
  };
}

std::vector<std::string> TPluginTranslator::ComponentProperties() const {
  return translator_.ComponentProperties();
}

void TPluginTranslator::AddComponentProperty(std::string_view name) {
  translator_.AddComponentProperty(name);
}

bool TPluginTranslator::HasLanguageFile() const {
  return !translator_.LanguageFile().empty();
}

void TPluginTranslator::RegisterTexts(ITranslatableTexts& texts) {
  std::lock_guard lock(texts_mutex_);
  if (std::find(texts_.begin(), texts_.end(), &texts) == texts_.end())
    texts_.push_back(&texts);
}

void TPluginTranslator::UnregisterTexts(ITranslatableTexts& texts) {
  std::lock_guard lock(texts_mutex_);
  std::erase(texts_, &texts);
}

void TPluginTranslator::Translate(TorvPlugin& module) {
  if (module.Language.empty())
    module.Language = "NONE";
  std::lock_guard lock(texts_mutex_);

  // The module as a component: its three outcome texts from their originals, and one owned
  // component per set of message texts.
  std::string no_data = no_data_;
  std::string write_complete = write_complete_;
  std::string write_complete_error = write_complete_error_;
  std::vector<TextSetNode> sets;
  sets.reserve(texts_.size());
  for (ITranslatableTexts* set : texts_)
    sets.push_back({set, set->OriginalTexts()});

  TTranslatableComponent root;
  root.Name = "aPlugin";
  root.ClassName = "TaPlugin";
  root.Properties = {TTranslatableProperty::OfText("MsgNoData", &no_data),
                     TTranslatableProperty::OfText("MsgWriteComplete", &write_complete),
                     TTranslatableProperty::OfText("MsgWriteCompleteError", &write_complete_error)};
  for (TextSetNode& set : sets) {
    TTranslatableComponent node;
    node.Name = "TextResources";
    node.ClassName = "TTextResources";
    node.Tag = TTranslatableComponent::kTagCustom;
    node.Data = &set;
    root.Components.push_back(std::move(node));
  }
  translator_.TranslateComponent(module.Language, root, "EN");

  // Whatever was not translated goes back to its English original.
  module.MsgNoData.Set(std::move(no_data));
  module.MsgWriteComplete.Set(std::move(write_complete));
  module.MsgWriteCompleteError.Set(std::move(write_complete_error));
  for (TextSetNode& set : sets)
    set.set->SetTexts(std::move(set.texts));
}

std::unique_ptr<IModuleTranslator> CreatePluginTranslator(TorvPlugin& module) {
  return CreatePluginTranslator(module, ModuleLanguageFiles(module));
}

std::unique_ptr<IModuleTranslator> CreatePluginTranslator(TorvPlugin& module,
                                                          const std::string& files) {
  auto translator = std::make_unique<TPluginTranslator>(module);
  TLanguageTranslator& inner = translator->Translator();
  inner.SetLanguageFile(files);
  module.Language = "EN";
  const std::string own = files.substr(files.find('|') + 1);
  if (std::ifstream(own, std::ios::binary).good())
    module.Language = inner.GetDefaultLanguage();
  else
    inner.SetLanguageFile(std::string());
  return translator;
}

} // namespace kestrel::translation
