#pragma once
// CQSystem: helpers about the system's kernel objects.
//
// MakeKernelObjectName turns any text (typically a file path) into a valid name for a named
// mutex or event, so that every process that starts from the same text finds the same object:
// every character that is not an ASCII letter or digit becomes "_", letters become upper case,
// a name longer than the limit keeps its last characters (the end of a path tells files apart
// best), and a global name gets the prefix "Global\" (an object shared by all users; without
// it the object is the calling user's own).
//
// Decision: only ASCII letters and digits count as alphanumeric. The result must be the same in
// every process whatever its locale (a name that differed between two processes would give
// them two different mutexes), and it becomes a file name in the system layer.
//
// Stateless; safe to call from any thread.

#include <cstddef>
#include <string>
#include <string_view>

class CQSystem {
public:
    static constexpr std::wstring_view k_globalPrefix = L"Global\\";
    static constexpr size_t k_maxKernelObjectName = 260;

    // Rewrites name in place; at most k_maxKernelObjectName characters including the prefix.
    static void MakeKernelObjectName(std::wstring& name, bool global);
};
