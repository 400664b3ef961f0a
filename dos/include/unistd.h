// isatty, which the report's stream test asks (report/report_output.cpp): on DOS, whether the
// handle is the console.
#pragma once

extern "C" int isatty(int handle);
