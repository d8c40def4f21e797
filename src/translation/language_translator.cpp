#include "translation/language_translator.h"

#include "common/ascii_text.h"
#include "common/orv_timer_ex.h"
#include "platform/locale.h"
#include "platform/system.h"
#include "platform/text.h"

#include <algorithm>
#include <fstream>

namespace kestrel::translation {

namespace {

using platform::WideString;

// "%0A" and the like in a translation back to the characters they stand for.
WideString Unescape(const WideString& text) {
  WideString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 2 < text.size()) {
      const int high = AsciiHexValue(text[i + 1]);
      const int low = AsciiHexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<WideString::value_type>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// Single ampersands dropped, doubled ones made single.
WideString StripMnemonics(const WideString& text) {
  WideString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') {
      out.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == u'&') {
      out.push_back(u'&');
      ++i;
    }
  }
  return out;
}

// Bit of a property in the exclusion tags 10000..10047.
int ExclusionBit(std::string_view name) {
  static constexpr std::pair<std::string_view, int> kBits[] = {
      {"hint", 1}, {"caption", 2}, {"items", 4}, {"strings", 8}, {"text", 16}, {"pages", 32}};
  for (const auto& [property, bit] : kBits)
    if (AsciiSameText(property, name))
      return bit;
  return 0;
}

bool HasLetterOrHighCharacter(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 127 || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'))
      return true;
  }
  return false;
}

bool FileExists(const std::string& path) {
  return std::ifstream(path, std::ios::binary).good();
}

} // namespace

TLanguageTranslator::TLanguageTranslator()
    : properties_{"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS"}, language_file_("app.lng"),
      start_locale_(platform::GetThreadLocale()) {}

TLanguageTranslator::~TLanguageTranslator() {
  {
    std::lock_guard lock(timer_mutex_);
    release_timer_.reset();
  }
  WriteCollected();
}

// ---- Published ---------------------------------------------------------------------------------

std::vector<std::string> TLanguageTranslator::ComponentProperties() const {
  std::lock_guard lock(lock_);
  return properties_;
}

void TLanguageTranslator::AddComponentProperty(std::string_view name) {
  std::lock_guard lock(lock_);
  for (const std::string& listed : properties_)
    if (AsciiSameText(listed, name))
      return;
  properties_.emplace_back(name);
}

std::string TLanguageTranslator::LanguageFile() const {
  std::lock_guard lock(lock_);
  return language_file_;
}

void TLanguageTranslator::SetLanguageFile(std::string files) {
  std::lock_guard lock(lock_);
  language_file_ = std::move(files);
}

std::string TLanguageTranslator::SourceLanguage() const {
  std::lock_guard lock(lock_);
  return source_;
}

std::string TLanguageTranslator::TargetLanguage() const {
  std::lock_guard lock(lock_);
  return target_;
}

void TLanguageTranslator::RegisterClassTranslator(const std::string& class_name,
                                                  TClassTranslator translator) {
  std::lock_guard lock(lock_);
  class_translators_[class_name] = std::move(translator);
}

int64_t TLanguageTranslator::EntryCount() const {
  std::lock_guard lock(lock_);
  return entry_count_;
}

TLanguageFileOptions TLanguageTranslator::Options() const {
  std::lock_guard lock(lock_);
  return options_;
}

// ---- Dictionary --------------------------------------------------------------------------------

void TLanguageTranslator::BuildDictionary() {
  dictionary_.Clear();
  // Every build starts with the encoding, reading order, character set and locale cleared;
  // one file's options hold for the files after it. Collection directives stay once given.
  const uint32_t changed_locale = options_.Locale;
  options_.Utf8 = false;
  options_.BiDiMode = TBiDiMode::LeftToRight;
  options_.Charset = kDefaultCharset;
  options_.CodePage = 0;
  options_.Locale = 0;
  // The thread gets its locale back only when a file changed it.
  if (changed_locale)
    platform::SetThreadLocale(start_locale_);
  bool any = false;
  std::vector<std::string> sources;
  for (const std::string& file : LanguageFileList(language_file_)) {
    const std::optional<std::string> text = ReadWholeFile(file);
    if (!text)
      continue; // a missing or unreadable file is skipped
    any = true;
    ReadLanguageText(*text, source_, target_, options_, dictionary_, &sources);
  }
  entry_count_ = any ? static_cast<int64_t>(dictionary_.Count()) : -1;
  if (options_.Collecting())
    collecting_ = true;
  if (options_.SaveUnused) {
    collect_unused_ = true;
    for (std::string& source : sources)
      if (!used_.contains(source) &&
          std::find(unused_.begin(), unused_.end(), source) == unused_.end())
        unused_.push_back(std::move(source));
  }
}

void TLanguageTranslator::ReleaseDictionary() {
  std::lock_guard lock(lock_);
  dictionary_.Clear();
  cache_key_.clear();
  cached_ = false;
}

void TLanguageTranslator::ExpireDictionary() {
  if (cached_ && platform::TickCount64() - last_use_ >= kReleaseDelayMs) {
    dictionary_.Clear();
    cache_key_.clear();
    cached_ = false;
  }
}

void TLanguageTranslator::StartReleaseTimer() {
  std::lock_guard lock(timer_mutex_);
  try {
    if (!release_timer_) {
      // Created once, in the thread of the first translation; its window timer fires only
      // while that thread dispatches messages. Without it the dictionary still expires
      // before the next translation.
      auto timer = std::make_unique<TorvTimerEx>();
      TorvTimerEx* raw = timer.get();
      timer->SetInterval(kReleaseDelayMs);
      timer->SetOnTimer([this, raw] {
        if (ReleaseIfIdle())
          raw->SetEnabled(false);
      });
      release_timer_ = std::move(timer);
    }
    release_timer_->SetEnabled(true);
  } catch (...) {
    // No window or no timer left: the expiry check at the next translation stands in.
  }
}

bool TLanguageTranslator::ReleaseIfIdle() {
  std::lock_guard lock(lock_);
  ExpireDictionary();
  return !cached_;
}

// ---- Translation -------------------------------------------------------------------------------

bool TLanguageTranslator::TranslateComponent(const std::string& target,
                                             TTranslatableComponent& component,
                                             const std::string& source) {
  bool looked_up = false;
  {
    std::lock_guard lock(lock_);
    target_ = target;
    source_ = source;
    ExpireDictionary();
    const std::string key = source + "\n" + target;
    if (!cached_ || key != cache_key_) {
      BuildDictionary();
      cache_key_ = key;
      cached_ = true;
    }
    if (OnBeforeTranslate)
      OnBeforeTranslate(component);
    if (!dictionary_.Empty() || options_.Collecting()) {
      if (component.Tag != TTranslatableComponent::kTagChildrenOnly)
        TranslateProperties(component, component.Name);
      WalkComponents(component, component.Name);
      looked_up = true;
    }
    if (OnAfterTranslate)
      OnAfterTranslate(component);
    last_use_ = platform::TickCount64();
  }
  if (looked_up)
    StartReleaseTimer();
  return looked_up;
}

std::string TLanguageTranslator::TranslateText(std::string_view text) {
  std::lock_guard lock(lock_);
  return Lookup(text, std::string());
}

std::string TLanguageTranslator::Lookup(std::string_view text, const std::string& path) {
  const std::string trimmed(TrimBlanks(text));
  if (trimmed.empty())
    return std::string(text);

  // The escaped key writes control characters as %XX; a mnemonic is a single "&".
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  std::string without_mnemonic;
  bool has_control = false;
  bool has_mnemonic = false;
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const auto c = static_cast<unsigned char>(trimmed[i]);
    if (c < 32) {
      has_control = true;
      const char code[] = {'%', kHex[c >> 4], kHex[c & 15]};
      escaped.append(code, 3);
      without_mnemonic.append(code, 3);
      continue;
    }
    escaped.push_back(static_cast<char>(c));
    if (c == '&') {
      if (i + 1 < trimmed.size() && trimmed[i + 1] == '&') {
        escaped.push_back('&');
        without_mnemonic.append("&&");
        ++i;
        continue;
      }
      has_mnemonic = true;
      continue;
    }
    without_mnemonic.push_back(static_cast<char>(c));
  }

  const WideString* found = dictionary_.FindExact(trimmed);
  const std::string* key = &trimmed;
  if (!found && (found = dictionary_.FindExact(escaped)))
    key = &escaped;
  if (!found && has_mnemonic && (found = dictionary_.FindExact(without_mnemonic)))
    key = &without_mnemonic;
  if (!found)
    found = dictionary_.FindLowerCase(trimmed);

  if (collect_unused_ && found) {
    used_.insert(*key);
    std::erase(unused_, *key);
  }
  if (!found) {
    Collect(escaped, path);
    return std::string(text);
  }
  WideString translation = *found;
  if (has_control)
    translation = Unescape(translation);
  if (!has_mnemonic)
    translation = StripMnemonics(translation);
  std::string result = platform::WideToAnsi(translation);
  if (OnPropertyTranslate && !OnPropertyTranslate(path, std::string(text), result))
    return std::string(text);
  return result;
}

void TLanguageTranslator::TranslateProperties(TTranslatableComponent& component,
                                              const std::string& path) {
  if (OnBeforeTranslateComponent && !OnBeforeTranslateComponent(component))
    return;
  for (int32_t* charset : {component.FontCharset, component.FocusFontCharset})
    if (charset && *charset != kSymbolCharset)
      *charset = options_.Charset;
  if (component.BiDiMode)
    *component.BiDiMode = static_cast<int32_t>(options_.BiDiMode);

  int excluded = 0;
  if (component.Tag >= TTranslatableComponent::kTagExcludeBase &&
      component.Tag <= TTranslatableComponent::kTagExcludeLast)
    excluded = component.Tag - TTranslatableComponent::kTagExcludeBase;
  for (TTranslatableProperty& property : component.Properties) {
    if (excluded & ExclusionBit(property.Name))
      continue;
    bool listed = false;
    for (const std::string& name : properties_)
      listed = listed || AsciiSameText(name, property.Name);
    if (!listed)
      continue;
    const std::string property_path = path + "." + property.Name;
    try {
      if (property.Text) {
        std::string translated = Lookup(*property.Text, property_path);
        if (translated != *property.Text)
          *property.Text = std::move(translated);
      } else if (property.Lines) {
        for (std::string& line : *property.Lines)
          line = Lookup(line, property_path);
      } else if (property.Items) {
        for (TTranslatableComponent& item : *property.Items)
          TranslateProperties(item, property_path);
      } else if (property.Object) {
        const auto registered = class_translators_.find(property.ObjectClass);
        if (registered != class_translators_.end()) {
          TTranslatableComponent object;
          object.Name = property.Name;
          object.ClassName = property.ObjectClass;
          object.Data = property.Object;
          registered->second(*this, object);
        } else if (OnCustomObjectPropertyTranslate) {
          OnCustomObjectPropertyTranslate(component, property);
        }
      }
    } catch (...) {
      // One property failing does not stop the others.
    }
  }
  if (const auto registered = class_translators_.find(component.ClassName);
      registered != class_translators_.end())
    registered->second(*this, component);
  if (OnCustomTranslate)
    OnCustomTranslate(component);
}

void TLanguageTranslator::WalkComponents(TTranslatableComponent& component,
                                         const std::string& path) {
  for (TTranslatableComponent& child : component.Components) {
    if (child.Tag == TTranslatableComponent::kTagSkipTree || child.Name.starts_with("__"))
      continue;
    const std::string child_path = path + "." + child.Name;
    if (child.Tag == TTranslatableComponent::kTagCustom) {
      if (OnCustomTranslate)
        OnCustomTranslate(child);
      continue;
    }
    if (child.Tag != TTranslatableComponent::kTagChildrenOnly)
      TranslateProperties(child, child_path);
    if (!child.Name.starts_with("_"))
      WalkComponents(child, child_path);
  }
}

// ---- Collected texts ---------------------------------------------------------------------------

void TLanguageTranslator::Collect(const std::string& text, const std::string& path) {
  if (!(options_.SaveUntranslated || options_.SaveUntranslatedWithPath) ||
      !HasLetterOrHighCharacter(text) || !collected_set_.insert(text).second)
    return;
  collected_.emplace_back(text, options_.SaveUntranslatedWithPath ? path : std::string());
}

std::string TLanguageTranslator::CollectedTextsFile() const {
  std::lock_guard lock(lock_);
  const std::vector<std::string> files = LanguageFileList(language_file_);
  if (files.empty())
    return std::string();
  return files.back() + (collect_unused_ ? ".unused" : ".new");
}

void TLanguageTranslator::WriteCollected() noexcept {
  try {
    std::lock_guard lock(lock_);
    if (!collecting_)
      return;
    std::string name = CollectedTextsFile();
    if (name.empty())
      return;
    if (options_.FileMode == TCollectFileMode::NewNumbered) {
      const std::string base = name;
      for (int number = 2; FileExists(name); ++number)
        name = base + std::to_string(number);
    }
    std::ofstream out(name, std::ios::binary |
                                (options_.FileMode == TCollectFileMode::Append ? std::ios::app
                                                                               : std::ios::trunc));
    if (!out)
      return;
    const std::string target = target_.empty() ? std::string("NONE") : target_;
    out << "[Languages]\r\n$" << source_ << " = #1\r\n$" << target << " = #2 (Default)\r\n"
        << "Default = " << target << "\r\n\r\n";
    const auto block = [&](const std::string& text, const std::string& path) {
      if (!path.empty())
        out << "// " << path << "\r\n";
      out << source_ << ":>" << text << "\r\n" << target << ":>\r\n\r\n";
    };
    if (collect_unused_)
      for (const std::string& text : unused_)
        block(text, std::string());
    else
      for (const auto& [text, path] : collected_)
        block(text, path);
  } catch (...) {
    // Writing the collected texts is best effort.
  }
}

} // namespace kestrel::translation

namespace kestrel::translation {

std::string TLanguageTranslator::GetDefaultLanguage(std::vector<std::string>* languages) const {
  const std::vector<std::string> files = LanguageFileList(LanguageFile());
  for (const std::string& file : files) {
    const std::optional<std::string> text = ReadWholeFile(file);
    if (!text)
      continue;
    const TLanguageList list = ReadLanguageList(*text);
    bool listed = false;
    for (const auto& [code, display] : list.Languages) {
      if (display.empty())
        continue;
      listed = true;
      if (languages)
        languages->push_back(display + "," + code);
    }
    if (listed)
      return list.Default;
  }
  return std::string();
}

} // namespace kestrel::translation
