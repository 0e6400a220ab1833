// The operations table of every check module, one per source file.
#pragma once

#include "checks/check_type.h"

extern const CheckOps kEnviroCheckOps;  // enviro.cc
