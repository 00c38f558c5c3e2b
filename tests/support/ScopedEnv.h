// Sets (or, given null, unsets) an environment variable for the life of a scope, on every system.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

inline void PutEnv(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value ? value : "");  // an empty value removes it
#else
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
#endif
}

struct SScopedEnv {
    SScopedEnv(const char* variable, const std::string& value)
        : SScopedEnv(variable, value.c_str()) {}
    SScopedEnv(const char* variable, const char* value) : name(variable) {
        if (const char* before = std::getenv(name)) old = before;
        PutEnv(name, value);
    }
    ~SScopedEnv() { PutEnv(name, old ? old->c_str() : nullptr); }
    const char* name;
    std::optional<std::string> old;
};
