#pragma once

#ifdef CONSUMER_GREETING_BUILDING
#define CONSUMER_GREETING_API __declspec(dllexport)
#else
#define CONSUMER_GREETING_API __declspec(dllimport)
#endif

CONSUMER_GREETING_API const char* consumer_greeting(void);
