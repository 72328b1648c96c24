#include "zkURLHandler.h"

void PollURLHandler() {}
