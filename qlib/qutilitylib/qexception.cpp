#include "qlib/qutilitylib/qexception.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cwchar>
#include <optional>
#include <utility>
#include <vector>

#include "qlib/qutilitylib/qstring.h"

namespace {

constexpr std::wstring_view k_errorName = L"error";
constexpr std::wstring_view k_entryName = L"errorentry";
constexpr std::wstring_view k_descriptionName = L"description";
constexpr std::wstring_view k_codeName = L"errorcode";
constexpr std::wstring_view k_fileName = L"sourcefile";
constexpr std::wstring_view k_lineName = L"sourceline";
constexpr std::wstring_view k_functionName = L"sourcefunction";

struct CodeText {
    int code;
    std::wstring_view text;
};

constexpr std::array k_catalogue{
    CodeText{QERR_UNHANDLED, L"Unhandled exception caught (Possibly caused by access violation)"},
    CodeText{QERR_STD_EXCEPTION, L"std exception caught: "},
    CodeText{QERR_CHAR_EXCEPTION, L"char* exception caught: "},
    CodeText{QERR_WCHAR_EXCEPTION, L"wchar_t* exception caught: "},
    CodeText{QERR_STACKTRACE, L"Stacktrace."},
    CodeText{QERR_UNDEFINED, L"Undefined error."},
    CodeText{QERR_INVALID_PARAMETER, L"Invalid function parameter."},
    CodeText{QERR_NOT_INITIALIZED, L"Object not initialized."},
    CodeText{QERR_INVALID_VARIANT_TYPE, L"Invalid variant type"},
    CodeText{QERR_OPEN_FILE, L"Failed to open file."},
    CodeText{QERR_CREATE_DIRECTORY, L"Failed to create directory."},
    CodeText{QERR_TIME_CONVERSION, L"Time conversion failed."},
    CodeText{QERR_INVALID_STRING_FORMAT, L"Invalid string format."},
    CodeText{QERR_FILE_NOT_OPEN, L"File not open."},
    CodeText{QERR_MOVE_FILE, L"Failed to move file."},
    CodeText{QERR_DELETE_FILE, L"Failed to delete file."},
    CodeText{QERR_GET_FILE_TIME, L"Failed to get file time."},
    CodeText{VERR_SERVICE_NOT_INITIALIZED, L"Transcodeservice not initialized."},
    CodeText{VERR_ADD_TO_QUEUE_FAILED, L"Adding item to queue failed."},
};

// The entry's code; nullopt when it has none or it is not a number.
std::optional<int> EntryCode(const CQXMLElement& entry) {
    const CQXMLElement* code = entry.FindChild(k_codeName);
    if (code == nullptr || code->GetText().empty()) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const long value = std::wcstol(code->GetText().c_str(), &end, 10);
    if (*end != L'\0' || errno == ERANGE) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

bool IsTraceEntry(const CQXMLElement& entry) {
    return EntryCode(entry) == QERR_STACKTRACE;
}

std::wstring ChildText(const CQXMLElement& entry, std::wstring_view name,
                       std::wstring_view fallback) {
    const CQXMLElement* child = entry.FindChild(name);
    return child != nullptr ? child->GetText() : std::wstring(fallback);
}

// Removed from a context value's name before it becomes an element name.
bool IsRemovedFromName(wchar_t character) {
    return std::wstring_view(L" \t\r\n<&").find(character) != std::wstring_view::npos;
}

std::wstring TrimTrailingWhiteSpace(std::wstring text) {
    const size_t last = text.find_last_not_of(L" \t\r\n");
    text.erase(last == std::wstring::npos ? 0 : last + 1);
    return text;
}

[[noreturn]] void ThrowWithContext(CQException exception,
                                   std::initializer_list<SQExceptionValue> context) {
    for (const auto& value : context) {
        exception.AddValue(value.name, value.value);
    }
    throw exception;
}

std::wstring ErrnoText(int error) {
    return CQStringHelper::MultiByteToString(std::generic_category().message(error));
}

// Reduction of compiler signatures to class-qualified method names. g++ writes a method as
// "HRESULT CVTranscodeService::Add(long int, ...)", a member of a template as
// "void CVEventDispatcher<T>::DispatchEvent(...) [with T = CVTranscodeService]", and a lambda
// inside a method as "CVEventDispatcher<CVTranscodeService>::DispatchEvent(...)::<lambda()>".
// All of them come out as the platform's compiler names the method, "Class::Method" with the
// class template's arguments filled in and marked "class" where they are classes.

bool IsIdentifierCharacter(char character) {
    return std::isalnum(static_cast<unsigned char>(character)) != 0 || character == '_';
}

// Whether the keyword "operator" starts at index.
bool IsOperatorAt(std::string_view text, size_t index) {
    constexpr std::string_view k_operator = "operator";
    return text.substr(index).starts_with(k_operator) &&
           (index == 0 || !IsIdentifierCharacter(text[index - 1])) &&
           (index + k_operator.size() >= text.size() ||
            !IsIdentifierCharacter(text[index + k_operator.size()]));
}

// Index just past the operator's symbol ("()", "<", " bool", ...) after "operator".
size_t SkipOperatorSymbol(std::string_view text, size_t index) {
    if (text.substr(index).starts_with("()")) {
        return index + 2;
    }
    while (index < text.size() && text[index] != '(') {
        ++index;
    }
    return index;
}

// The qualified name between the return type and the parameter list.
std::string_view NameOfSignature(std::string_view signature) {
    int depth = 0;
    size_t start = 0;
    for (size_t index = 0; index < signature.size(); ++index) {
        if (depth == 0 && IsOperatorAt(signature, index)) {
            index = SkipOperatorSymbol(signature, index + 8) - 1;
            continue;
        }
        const char character = signature[index];
        if (character == '<') {
            ++depth;
        } else if (character == '>' && depth > 0) {
            --depth;
        } else if (depth == 0 && character == ' ') {
            start = index + 1;
        } else if (depth == 0 && character == '(') {
            return signature.substr(start, index - start);
        }
    }
    return signature.substr(start);
}

// Splits text at separator where no bracket is open.
std::vector<std::string_view> SplitTopLevel(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    int depth = 0;
    size_t start = 0;
    for (size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        if (character == '<' || character == '(' || character == '[') {
            ++depth;
        } else if ((character == '>' || character == ')' || character == ']') && depth > 0) {
            --depth;
        } else if (character == separator && depth == 0) {
            parts.push_back(text.substr(start, index - start));
            start = index + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// Replaces the template parameters of a "[with T = X; ...]" clause by their arguments.
std::string SubstituteParameters(std::string_view name, std::string_view withClause) {
    std::vector<std::pair<std::string_view, std::string_view>> parameters;
    for (std::string_view binding : SplitTopLevel(withClause, ';')) {
        const size_t equals = binding.find(" = ");
        if (equals == std::string_view::npos) {
            continue;
        }
        std::string_view declaration = TrimSpaces(binding.substr(0, equals));
        size_t nameStart = declaration.size();
        while (nameStart > 0 && IsIdentifierCharacter(declaration[nameStart - 1])) {
            --nameStart;
        }
        parameters.emplace_back(declaration.substr(nameStart),
                                TrimSpaces(binding.substr(equals + 3)));
    }
    std::string result;
    for (size_t index = 0; index < name.size();) {
        if (!IsIdentifierCharacter(name[index])) {
            result += name[index++];
            continue;
        }
        size_t end = index;
        while (end < name.size() && IsIdentifierCharacter(name[end])) {
            ++end;
        }
        const std::string_view identifier = name.substr(index, end - index);
        std::string_view replacement = identifier;
        for (const auto& [parameter, argument] : parameters) {
            if (parameter == identifier) {
                replacement = argument;
            }
        }
        result += replacement;
        index = end;
    }
    return result;
}

// Drops the template arguments of the last component ("Foo<3, int>" -> "Foo"): the platform's
// compiler names a function template without them.
void DropFunctionTemplateArguments(std::string& name) {
    const size_t lastScope = name.rfind("::");
    const size_t componentStart = lastScope == std::string::npos ? 0 : lastScope + 2;
    if (name.empty() || name.back() != '>' || IsOperatorAt(name, componentStart)) {
        return;
    }
    int depth = 0;
    for (size_t index = name.size(); index-- > componentStart;) {
        if (name[index] == '>') {
            ++depth;
        } else if (name[index] == '<' && --depth == 0) {
            name.erase(index);
            return;
        }
    }
}

bool IsClassArgument(std::string_view argument) {
    static constexpr std::array<std::string_view, 24> k_notClasses{
        "class",   "struct",  "union",    "enum",     "const", "volatile", "unsigned", "signed",
        "int",     "long",    "short",    "char",     "bool",  "float",    "double",   "void",
        "wchar_t", "char8_t", "char16_t", "char32_t", "true",  "false",    "decltype", "auto"};
    if (argument.starts_with("{anonymous}") || argument.starts_with("::")) {
        return true;
    }
    if (argument.empty() || !IsIdentifierCharacter(argument.front()) ||
        std::isdigit(static_cast<unsigned char>(argument.front())) != 0) {
        return false;
    }
    size_t end = 0;
    while (end < argument.size() && IsIdentifierCharacter(argument[end])) {
        ++end;
    }
    const std::string_view word = argument.substr(0, end);
    return std::find(k_notClasses.begin(), k_notClasses.end(), word) == k_notClasses.end();
}

// Marks every class among the template arguments of name with "class ", at every level.
std::string MarkClassArguments(std::string_view name) {
    std::string result;
    for (size_t index = 0; index < name.size(); ++index) {
        if (IsOperatorAt(name, index)) {
            result += name.substr(index);
            break;
        }
        result += name[index];
        if (name[index] != '<') {
            continue;
        }
        int depth = 1;
        size_t close = index + 1;
        for (; close < name.size() && depth > 0; ++close) {
            depth += name[close] == '<' ? 1 : name[close] == '>' ? -1 : 0;
        }
        if (depth != 0) {
            result += name.substr(index + 1);
            break;
        }
        const std::string_view arguments = name.substr(index + 1, close - index - 2);
        const char* separator = "";
        for (std::string_view argument : SplitTopLevel(arguments, ',')) {
            argument = TrimSpaces(argument);
            result += separator;
            result += IsClassArgument(argument) ? "class " : "";
            result += MarkClassArguments(argument);
            separator = ",";
        }
        result += '>';
        index = close - 1;
    }
    return result;
}

}  // namespace

CQException::CQException() : m_error(std::wstring(k_errorName)) {}

CQException::CQException(std::wstring_view description, int code, std::wstring_view sourceFile,
                         int sourceLine, std::wstring_view sourceFunction)
    : CQException() {
    AddEntry(description, code, sourceFile, sourceLine, sourceFunction);
}

CQException::CQException(std::wstring_view description, int code,
                         const std::source_location& location)
    : CQException() {
    AddEntry(description, code, location);
}

CQException::CQException(int code, const std::source_location& location)
    : CQException(GetErrorCodeText(code), code, location) {}

CQException::CQException(const CQException& other) : CQException() {
    AdoptEntries(other.m_error);
}

CQException& CQException::operator=(const CQException& other) {
    if (this != &other) {
        CQException copy(other);
        m_error = std::move(copy.m_error);
    }
    return *this;
}

CQException::~CQException() = default;

void CQException::AdoptEntries(const CQXMLElement& error) {
    for (const auto& child : error.GetChildren()) {
        if (child->GetName() == k_entryName) {
            m_error.AppendChild(*child);
        }
    }
}

CQException CQException::FromComError(const _com_error& error) {
    CQException exception;
    const std::wstring description = error.Description();
    if (error.Error() == E_QEXCEPTION) {
        CQXMLElement remote;
        SQXMLParseState state;
        if (remote.Parse(description, state) && remote.GetName() == k_errorName) {
            exception.AdoptEntries(remote);
        }
    }
    // A foreign HRESULT, or XML that is not an exception's: one entry keeps what arrived.
    if (exception.m_error.GetChildren().empty()) {
        std::wstring text = description;
        if (text.empty()) {
            text = error.ErrorMessage();
        }
        if (text.empty()) {
            text = GetSystemErrorMessage(error.Error());
        }
        exception.AddEntry(text, error.Error());
    }
    if (const std::wstring source = error.Source(); !source.empty()) {
        exception.AddValue(k_fileName, source);
    }
    return exception;
}

void CQException::AddEntry(std::wstring_view description, int code) {
    CQXMLElement& entry = m_error.AppendChild(std::wstring(k_entryName), L"");
    entry.AppendChild(std::wstring(k_descriptionName), std::wstring(description));
    entry.AppendChild(std::wstring(k_codeName), CQStringHelper::IntToString(code));
}

void CQException::AddEntry(std::wstring_view description, int code, std::wstring_view sourceFile,
                           int sourceLine, std::wstring_view sourceFunction) {
    AddEntry(description, code);
    CQXMLElement& entry = NewestEntry();
    entry.AppendChild(std::wstring(k_fileName), std::wstring(sourceFile));
    entry.AppendChild(std::wstring(k_lineName), CQStringHelper::IntToString(sourceLine));
    entry.AppendChild(std::wstring(k_functionName), std::wstring(sourceFunction));
}

void CQException::AddEntry(std::wstring_view description, int code,
                           const std::source_location& location) {
    AddEntry(description, code, CQStringHelper::MultiByteToString(location.file_name()),
             static_cast<int>(location.line()), QualifiedMethodName(location.function_name()));
}

CQXMLElement& CQException::NewestEntry() {
    return *m_error.GetChildren().back();
}

CQXMLElement* CQException::NewestRealEntry() {
    const auto& entries = m_error.GetChildren();
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (!IsTraceEntry(**entry)) {
            return entry->get();
        }
    }
    return nullptr;
}

const CQXMLElement* CQException::NewestRealEntry() const {
    return const_cast<CQException*>(this)->NewestRealEntry();
}

void CQException::AddValue(std::wstring_view name, std::wstring_view value) {
    CQXMLElement* entry = NewestRealEntry();
    std::wstring cleaned;
    for (wchar_t character : name) {
        if (!IsRemovedFromName(character)) {
            cleaned += character;
        }
    }
    if (entry != nullptr && !cleaned.empty()) {
        entry->AppendChild(CQXMLElement::MakeName(cleaned), std::wstring(value));
    }
}

void CQException::AddValue(std::wstring_view name, int value) {
    AddValue(name, CQStringHelper::IntToString(value));
}

std::wstring CQException::GetXML() const {
    return m_error.Write({.newLines = true, .depth = 0, .encodeEntities = true});
}

std::wstring CQException::GetDescription() const {
    const auto& entries = m_error.GetChildren();
    std::wstring text;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (IsTraceEntry(**entry)) {
            continue;
        }
        for (const auto& child : (*entry)->GetChildren()) {
            const std::wstring& name = child->GetName();
            if (name == k_descriptionName) {
                text += child->GetText() + L"\n";
            } else if (name != k_functionName && name != k_fileName && name != k_lineName) {
                text += L"\t" + name + L":\t" + child->GetText() + L"\n";
            }
        }
    }
    text += L"Stack trace:";
    std::wstring previous;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        std::wstring location = ChildText(**entry, k_fileName, L"Unknown file") + L"(" +
                                ChildText(**entry, k_lineName, L"Unknown line") + L")" + L" : " +
                                ChildText(**entry, k_functionName, L"Unknown function");
        if (entry == entries.rbegin() || location != previous) {
            text += L"\n\t" + location;
        }
        previous = std::move(location);
    }
    text += L"\n\n";
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t character : text) {
        escaped += character;
        if (character == L'%') {
            escaped += L'%';
        }
    }
    return escaped;
}

HRESULT CQException::GetHResult() const {
    const CQXMLElement* entry = NewestRealEntry();
    if (entry == nullptr) {
        return S_OK;
    }
    const int code = EntryCode(*entry).value_or(0);
    return code < 0 ? code : E_FAIL;
}

bool CQException::HasErrorCode(int code) const {
    for (const auto& entry : m_error.GetChildren()) {
        if (EntryCode(*entry) == code) {
            return true;
        }
    }
    return false;
}

std::wstring CQException::GetErrorCodeText(int code) {
    for (const auto& entry : k_catalogue) {
        if (entry.code == code) {
            return std::wstring(entry.text);
        }
    }
    return {};
}

std::wstring CQException::GetSystemErrorMessage(HRESULT error) {
    // The system's message texts are the C library's (for Win32 numbers and their 0x8007xxxx
    // forms) and our component layer's own table (for COM results). The second message table
    // the original platform also consulted (that of its HTTP library) has no equivalent here:
    // no code of ours produces its numbers.
    const bool win32Number = error > 0 && error <= 0xFFFF;
    const std::optional<std::wstring> text =
        HResultMessage(win32Number ? HRESULT_FROM_WIN32(error) : error);
    if (text) {
        std::wstring trimmed = TrimTrailingWhiteSpace(*text);
        if (!trimmed.empty()) {
            return trimmed;
        }
    }
    return CQStringHelper::Format(L"Unable to format error message from error number %d", error);
}

void CQException::RaiseSystemError(int error, std::initializer_list<SQExceptionValue> context,
                                   const std::source_location& location) {
    // The errno's own text: several errno values share one Win32 number, and the text of the
    // number would name the wrong one.
    ThrowWithContext(CQException(ErrnoText(error), HResultFromErrno(error), location), context);
}

void CQException::RaiseSystemError(const std::system_error& error,
                                   std::initializer_list<SQExceptionValue> context,
                                   const std::source_location& location) {
    const std::error_condition condition = error.code().default_error_condition();
    if (condition.category() == std::generic_category()) {
        RaiseSystemError(condition.value(), context, location);
    }
    // Not an errno: keep the library's own message.
    ThrowWithContext(CQException(CQStringHelper::MultiByteToString(error.what()), E_FAIL, location),
                     context);
}

std::wstring CQException::QualifiedMethodName(std::string_view signature) {
    std::string_view withClause;
    if (const size_t with = signature.rfind(" [with ");
        with != std::string_view::npos && signature.ends_with(']')) {
        withClause = signature.substr(with + 7, signature.size() - with - 8);
        signature = signature.substr(0, with);
    }
    if (const size_t lambda = signature.find("::<lambda"); lambda != std::string_view::npos) {
        signature = signature.substr(0, lambda);
    }
    std::string name = SubstituteParameters(NameOfSignature(signature), withClause);
    DropFunctionTemplateArguments(name);
    return CQStringHelper::MultiByteToString(MarkClassArguments(name));
}
