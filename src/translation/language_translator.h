// The interface translator (TLanguageTranslator): builds the dictionary of a source/target
// language pair from the language files, looks texts up in it and rewrites the listed
// properties of a component and of the components it owns in place.
//
// The dictionary is built on the first translation for a language pair and released 20 s
// after the last one (by a window timer of the thread that translated, and in any case before
// a later translation uses it), so the next translation reads the files again. Translations,
// rebuilds and the release are serialised by the translator's lock.
#pragma once

#include "translation/language_dictionary.h"
#include "translation/language_file.h"
#include "translation/translatable_component.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kestrel {
class TorvTimerEx;
}

namespace kestrel::translation {

class TLanguageTranslator {
public:
  static constexpr uint32_t kReleaseDelayMs = 20000;

  TLanguageTranslator();
  // Writes the collected texts when a collection directive was active.
  ~TLanguageTranslator();
  TLanguageTranslator(const TLanguageTranslator&) = delete;
  TLanguageTranslator& operator=(const TLanguageTranslator&) = delete;

  // ---- Published ---------------------------------------------------------------------------
  // Names of the properties translated, compared without regard to case.
  std::vector<std::string> ComponentProperties() const;
  // Adds a name unless it is listed already.
  void AddComponentProperty(std::string_view name);
  // The "|"-separated language files, read in order into one dictionary.
  std::string LanguageFile() const;
  void SetLanguageFile(std::string files);
  std::string SourceLanguage() const;
  std::string TargetLanguage() const;

  // Events; each runs under the translator's lock, only when assigned.
  std::function<void(TTranslatableComponent&)> OnCustomTranslate;
  std::function<void(TTranslatableComponent&)> OnBeforeTranslate;
  std::function<void(TTranslatableComponent&)> OnAfterTranslate;
  std::function<void(TTranslatableComponent&, TTranslatableProperty&)>
      OnCustomObjectPropertyTranslate;
  // May veto the translation of one component's properties.
  std::function<bool(TTranslatableComponent&)> OnBeforeTranslateComponent;
  // May reject a translation: (path, text, translation) -> accepted.
  std::function<bool(const std::string&, const std::string&, const std::string&)>
      OnPropertyTranslate;

  // Object-level translators, run for the components (and object properties) of a class.
  using TClassTranslator = std::function<void(TLanguageTranslator&, TTranslatableComponent&)>;
  void RegisterClassTranslator(const std::string& class_name, TClassTranslator translator);

  // ---- Translation ---------------------------------------------------------------------------
  // Translates a component and the components it owns into `target`. Returns true when
  // anything was looked up (the dictionary had entries or texts are being collected).
  bool TranslateComponent(const std::string& target, TTranslatableComponent& component,
                          const std::string& source = "EN");
  // The translation of one text through the current dictionary; the text itself when there
  // is none.
  std::string TranslateText(std::string_view text);
  // The default language of the first language file that lists languages; with `languages`
  // each language of that file is added as "display name,code".
  std::string GetDefaultLanguage(std::vector<std::string>* languages = nullptr) const;
  // What the release timer does: drops the dictionary and forgets its language pair.
  void ReleaseDictionary();
  // Entries of the current dictionary; -1 when no language file could be read.
  int64_t EntryCount() const;
  TLanguageFileOptions Options() const;
  // Where the collected texts go: the last (the plug-in's own) language file with ".new"
  // appended, ".unused" under "//saveunused"; empty without language files.
  std::string CollectedTextsFile() const;

private:
  void BuildDictionary();
  void ExpireDictionary();
  void StartReleaseTimer();
  // Drops the dictionary once it has not been used for the release delay; true when none is
  // held any more.
  bool ReleaseIfIdle();
  std::string Lookup(std::string_view text, const std::string& path);
  void TranslateProperties(TTranslatableComponent& component, const std::string& path);
  void WalkComponents(TTranslatableComponent& component, const std::string& path);
  void Collect(const std::string& text, const std::string& path);
  void WriteCollected() noexcept;

  mutable std::recursive_mutex lock_;
  std::vector<std::string> properties_;
  std::string language_file_;
  std::string source_ = "EN";
  std::string target_;
  std::string cache_key_;
  bool cached_ = false;
  int64_t entry_count_ = 0;
  TLanguageDictionary dictionary_;
  TLanguageFileOptions options_;
  uint32_t start_locale_ = 0;
  uint64_t last_use_ = 0;
  std::map<std::string, TClassTranslator> class_translators_;
  // Texts collected for writing out, in order, each once.
  bool collecting_ = false;
  bool collect_unused_ = false;
  std::vector<std::pair<std::string, std::string>> collected_; // text, component path
  std::unordered_set<std::string> collected_set_;
  std::vector<std::string> unused_;
  std::unordered_set<std::string> used_;
  // Declared last: destroyed first, so its callback never meets a half-destroyed translator.
  std::mutex timer_mutex_;
  std::unique_ptr<TorvTimerEx> release_timer_;
};

} // namespace kestrel::translation
