// The web build's bridge to JavaScript: the few functions the page's and the
// audio thread's scripts give the WebAssembly (module "velmora"), and the
// mark of the entry points they call. Each instance has one script that
// answers them (web/velmora-page.js, web/velmora-worklet.js).
#pragma once

#include <cstdint>

#define VELMORA_WEB_IMPORT(name) __attribute__((import_module("velmora"), import_name(#name)))
#define VELMORA_WEB_EXPORT(name) extern "C" __attribute__((export_name(#name)))

extern "C" {
// Milliseconds since 1970 (UTC) of the device's clock.
VELMORA_WEB_IMPORT(now_ms) double velmora_now_ms();
// Minutes past local midnight of the time `ms`, in the device's time zone.
VELMORA_WEB_IMPORT(local_minutes) int32_t velmora_local_minutes(double ms);
}
