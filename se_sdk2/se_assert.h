// The host-contract check: a broken promise of the host stops the process, in every build type.
#pragma once

// Writes "Assertion failed: EXPR, file PATH, line N" and a line feed to standard error, then
// stops the process abnormally. Never returns.
[[noreturn]] void SeAssertFail(const char* expression, const char* file, int line);

// The expression text and line are given explicitly: they are part of what a host's log shows,
// so they must not follow this file's formatting or line numbers. NDEBUG does not remove it.
#define SE_CONTRACT(condition, expression_text, file, line)                                       \
    ((condition) ? (void)0 : SeAssertFail(expression_text, file, line))
