#pragma once

#include "common/OdbcTestEnv.h"

// The driver manager fixes the folder of its system files at its first call,
// so the whole test program shares one private ODBC configuration.
OdbcTestEnv& SharedOdbcEnv();
