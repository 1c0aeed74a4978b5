// The program's version, in the one place that kel.rc (its version
// information and the version page) and the release zip's name (tools/dist.py)
// take it from. Plain #defines, so that windres can read this file too.
#pragma once

#define KEL_VERSION_MAJOR 2
#define KEL_VERSION_MINOR 1
#define KEL_VERSION_PATCH 1
#define KEL_VERSION_TEXT "2.1.1"
