// The errors the DOS programs can meet: creating a file (DOS's errors 2 to 5) and a path too
// long to show.
#pragma once

extern "C" int errno;

constexpr int ENOENT = 2;
constexpr int EIO = 5;
constexpr int EACCES = 13;
constexpr int EMFILE = 24;
constexpr int ENAMETOOLONG = 36;
