// The demo's second library. demo_app.dll imports it at link time, so the
// loader must find it beside demo_app.dll in the extraction directory.
#pragma once

#ifdef DEMO_GREETING_BUILDING
#define DEMO_GREETING_API extern "C" __declspec(dllexport)
#else
#define DEMO_GREETING_API extern "C" __declspec(dllimport)
#endif

// A greeting for `name`; the text lives in the library's static data.
// Writes at most `capacity` code units including the terminator and returns
// the length written, or -1 when it does not fit (nothing is cut short).
DEMO_GREETING_API int demo_compose_greeting(const wchar_t* name, wchar_t* out, int capacity);
