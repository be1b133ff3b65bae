#pragma once
// Visibility of the plug-in library. Everything is hidden by default (the build sets
// -fvisibility=hidden); what a host may use is marked KELTO_API. The QmImport* entry points
// also need C linkage so that hosts find them by their plain names.
#define KELTO_API __attribute__((visibility("default")))
#define KELTO_C_API extern "C" KELTO_API
