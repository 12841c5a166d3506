#include "model/zef_exception.h"
