#pragma once
// Sets an environment variable for the length of a scope (HOME for the default working
// folder, say) and puts the old value back afterwards.
#include <cstdlib>
#include <optional>
#include <string>

namespace mirte::testing {

class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, const std::string& value) : name(name) {
    if (const char* old = std::getenv(name)) previous = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (previous) ::setenv(name, previous->c_str(), 1);
    else ::unsetenv(name);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
  const char* name;
  std::optional<std::string> previous;
};

}  // namespace mirte::testing
