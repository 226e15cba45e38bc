// The library's own assertion: descriptor faults and misuse of tracked memory stop the program
// in every build type, so it must not depend on NDEBUG as plain assert does.
#pragma once

[[noreturn]] void structs_assert_fail(const char *file, int line, const char *cond);

#define STRUCTS_ASSERT(cond) ((cond) ? (void)0 : structs_assert_fail(__FILE__, __LINE__, #cond))
