#pragma once
// How a cancellation inside a plug-in reaches its host. No exception crosses the C entry
// points, so an entry point that ends in a CancelException notes it for the calling thread
// and returns its failure value; the host, seeing that failure, asks the library (the same
// thread, before its next entry-point call) whether it was a cancellation.
//
// Not one of the fifteen C entry points: it has C++ linkage, and a host finds it in another
// library built from this plug-in core under kTakeCancelledSymbol. A library without it
// simply never reports a cancellation.
#include "plugin/Export.h"

class SpreadsheetFile;

namespace kelto::plugin {

// True when the last cancellable entry point (open, size, read, write, options) called on
// this thread ended in a cancellation; clears the mark.
KELTO_API bool TakeCancelled();

using TakeCancelledFn = bool (*)();
// The symbol of TakeCancelled as the C++ ABI names it (checked by the tests).
inline constexpr const char* kTakeCancelledSymbol = "_ZN5kelto6plugin13TakeCancelledEv";

// The error code the file object behind `handle` keeps (0: none, and for a null handle), so
// that a host can keep a reader's own code beside its message: the entry points only say
// that a call failed. Found in another library like TakeCancelled; without it a host knows
// only that the library failed.
KELTO_API int FileStatus(const SpreadsheetFile* handle);

using FileStatusFn = int (*)(const SpreadsheetFile*);
inline constexpr const char* kFileStatusSymbol = "_ZN5kelto6plugin10FileStatusEPK15SpreadsheetFile";

}  // namespace kelto::plugin
