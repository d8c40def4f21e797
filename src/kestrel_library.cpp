// The plug-in library. Its exported entry points live in the framework, which is linked in
// whole; this unit names the library for diagnostics and, at library load, makes the JSON
// parser module the class the framework instantiates and the library's resources the source
// of the options dialog; every module gets the language-file translator.
#include "framework/options_dialog_package.h"
#include "framework/orv_plugin_module.h"
#include "parser/plugin_dm.h"
#include "translation/plugin_translator.h"

namespace kestrel {
extern const char kLibraryName[];
const char kLibraryName[] = "kestrel";

namespace {
const bool g_module_class_set = [] {
  SetModuleClass(&parser::CreateKestrelModule);
  SetOptionsDialogSource(&options_dialog::DeliverLibraryOptionsDialog);
  SetModuleTranslatorFactory(&translation::CreatePluginTranslator);
  return true;
}();
} // namespace
} // namespace kestrel
