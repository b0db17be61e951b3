#include "ParamsTestSupport.h"
