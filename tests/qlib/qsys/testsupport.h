#pragma once
// Helpers shared by the qsys tests: a temporary folder that removes itself, an environment
// variable set for the life of a scope, and running a function in a forked child process.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace qsys::test {

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// Forks; the child runs `body` and exits with its result (an escaping exception exits 100).
pid_t StartChild(const std::function<int()>& body);
// Waits for the child; its exit code, or 128 + signal number when a signal ended it.
int WaitChild(pid_t child);
inline int RunInChild(const std::function<int()>& body) {
    return WaitChild(StartChild(body));
}

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

}  // namespace qsys::test
