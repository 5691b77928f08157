#include "qlib/qutilitylib/qsystem.h"

namespace {

bool IsAsciiAlphanumeric(wchar_t character) {
    return (character >= L'0' && character <= L'9') || (character >= L'A' && character <= L'Z') ||
           (character >= L'a' && character <= L'z');
}

wchar_t KernelNameCharacter(wchar_t character) {
    if (!IsAsciiAlphanumeric(character)) {
        return L'_';
    }
    return character >= L'a' && character <= L'z' ? character - L'a' + L'A' : character;
}

}  // namespace

void CQSystem::MakeKernelObjectName(std::wstring& name, bool global) {
    for (wchar_t& character : name) {
        character = KernelNameCharacter(character);
    }
    const size_t maximum =
        global ? k_maxKernelObjectName - k_globalPrefix.size() : k_maxKernelObjectName;
    if (name.size() > maximum) {
        name.erase(0, name.size() - maximum);
    }
    if (global) {
        name.insert(0, k_globalPrefix);
    }
}
