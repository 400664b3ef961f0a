// DOS has no signals: no SIGPIPE, so report/main.cpp has nothing to ignore.
#pragma once
