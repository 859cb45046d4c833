#define CONSUMER_GREETING_BUILDING
#include "greeting.h"

CONSUMER_GREETING_API const char* consumer_greeting(void) {
    return "greeting from consumer_greeting.dll";
}
