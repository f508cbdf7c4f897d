// (being written)
#include "link_engine.h"
