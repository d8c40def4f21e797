#include "framework/crash_report.h"

#include "framework/unload_callbacks.h"
#include "platform/system.h"

#include <atomic>
#include <exception>
#include <memory>
#include <typeinfo>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define KESTREL_HAVE_CXXABI 1
#endif

namespace kestrel {

namespace {

std::atomic<bool> g_active{false};
std::atomic<unsigned> g_reported{0};

std::string TypeName(const std::type_info& type) {
#ifdef KESTREL_HAVE_CXXABI
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  if (status == 0 && name)
    return name.get();
#endif
  return type.name();
}

void StopReporting() {
  g_active.store(false);
}

// Registers the unload procedure when the library is loaded.
struct Installer {
  Installer() { StartCrashReporting(); }
} g_installer;

} // namespace

void StartCrashReporting() {
  if (!g_active.exchange(true))
    RegisterUnloadCallback(&StopReporting);
}

std::string DescribeCurrentException() {
  const std::exception_ptr current = std::current_exception();
  if (!current)
    return {};
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& failure) {
    return TypeName(typeid(failure)) + ": " + failure.what();
  } catch (...) {
    return "unknown exception";
  }
}

void ReportCommandFailure(const std::string& label) {
  if (!g_active.load())
    return;
  ++g_reported;
  try {
    platform::DebugOutput("Kestrel: command " + label + " failed: " + DescribeCurrentException());
  } catch (...) {
    // The report is a debug aid: its own failure must not change the command's answer.
  }
}

unsigned ReportedFailureCount() {
  return g_reported.load();
}

bool CrashReportingActive() {
  return g_active.load();
}

} // namespace kestrel
