// The plug-in library. Its exported entry points live in the framework, which is linked in
// whole; this unit only anchors the target and names the library for diagnostics.
namespace kestrel {
extern const char kLibraryName[];
const char kLibraryName[] = "kestrel";
} // namespace kestrel
