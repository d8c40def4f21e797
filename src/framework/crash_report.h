// The least crash reporting the framework needs: a description of the exception being
// handled, the place where failures escaping a command are handed over, and its unload
// procedure.
#pragma once

#include <string>

namespace kestrel {

// "<type>: <message>" of the exception currently being handled; "unknown exception" for a
// non-standard one; "" outside a handler.
std::string DescribeCurrentException();

// Hands over the failure currently being handled, which escaped the command `label`. While
// reporting is active it goes to the debug output with its description.
void ReportCommandFailure(const std::string& label);

// Number of failures reported since the library was loaded.
unsigned ReportedFailureCount();

// Starts taking reports and registers the unload procedure that stops it; what library load
// does. Does nothing while reports are taken.
void StartCrashReporting();

// Whether reports are still taken: true from library load until the unload procedure (which
// the layer registers with RegisterUnloadCallback at library load) has run.
bool CrashReportingActive();

} // namespace kestrel
