#pragma once
// CQStringHelper: string helpers of the utility library (static functions only).
//
// Format takes the printf-style formats the program writes throughout, where "%s" means a wide
// string and "%d" an int, and checks the arguments by type: each conversion takes the next
// argument as whatever it really is (a wide string, a signed or unsigned integer, a floating
// value, a pointer), so a format can never read an argument as the wrong type. A conversion
// that meets an argument of another kind writes the argument in its natural form; a
// conversion without an argument is written as it stands; extra arguments are ignored. A
// conversion that would produce more than a million characters (or that the C library cannot
// write at all) is written as it stands too, and its argument is used up: Format always ends.
// Format stays on the C library's swprintf for numbers (fmt would add a dependency for no gain
// here); texts are padded and cut by Format itself, so they pass at any length.
//
//     CQStringHelper::Format(L"Exception caught in %s (%s : %d)\n", method, file, line);
//
// UTF-8 and the process's multibyte text go through qsys's text codec; the locale's multibyte
// encoding is UTF-8 on the systems we run on. The narrow-string forms are lenient (U+FFFD for
// bad bytes: texts of the C library, names from the system); the pointer-and-count form is
// strict, because text read from a file must be taken whole or not at all.
//
// Stateless; safe to call from any thread.

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

class CQBuf;

class CQStringHelper {
public:
    // One argument of Format, captured by kind. Refers to the caller's string; lives only for
    // the duration of one Format call.
    class FormatArgument {
    public:
        enum class Kind { Signed, Unsigned, Floating, Text, Pointer };

        template <std::integral T>
        FormatArgument(T value) : m_size(sizeof(T)) {
            if constexpr (std::is_signed_v<T>) {
                m_kind = Kind::Signed;
                m_signed = value;
            } else {
                m_kind = Kind::Unsigned;
                m_unsigned = value;
            }
        }
        template <typename T>
        requires std::is_enum_v<T> FormatArgument(T value)
            : FormatArgument(static_cast<std::underlying_type_t<T>>(value)) {}
        FormatArgument(double value) : m_kind(Kind::Floating), m_floating(value) {}
        FormatArgument(const wchar_t* text)
            : m_kind(Kind::Text), m_text(text != nullptr ? text : L"(null)") {}
        FormatArgument(const std::wstring& text) : m_kind(Kind::Text), m_text(text) {}
        FormatArgument(std::wstring_view text) : m_kind(Kind::Text), m_text(text) {}
        FormatArgument(const void* pointer) : m_kind(Kind::Pointer), m_pointer(pointer) {}
        // Narrow text has no meaning for "%s": convert it with MultiByteToString first.
        FormatArgument(const char*) = delete;
        FormatArgument(const std::string&) = delete;

        Kind GetKind() const { return m_kind; }
        // Size in bytes of an integer argument: "%X" of a negative int shows 32 bits.
        size_t GetSize() const { return m_size; }
        long long GetSigned() const { return m_signed; }
        unsigned long long GetUnsigned() const { return m_unsigned; }
        double GetFloating() const { return m_floating; }
        std::wstring_view GetText() const { return m_text; }
        const void* GetPointer() const { return m_pointer; }

    private:
        Kind m_kind;
        size_t m_size = 0;
        long long m_signed = 0;
        unsigned long long m_unsigned = 0;
        double m_floating = 0;
        std::wstring_view m_text;
        const void* m_pointer = nullptr;
    };

    template <typename... Args>
    static std::wstring Format(std::wstring_view format, const Args&... args) {
        const std::array<FormatArgument, sizeof...(Args)> arguments{FormatArgument(args)...};
        return FormatArguments(format, arguments);
    }

    // The non-template half of Format.
    static std::wstring FormatArguments(std::wstring_view format,
                                        std::span<const FormatArgument> arguments);

    // Decimal text of value ("-12").
    static std::wstring IntToString(int value);

    // Multibyte (UTF-8) text to wide; invalid sequences become U+FFFD.
    static std::wstring MultiByteToString(const std::string& text);

    // Wide text to multibyte (UTF-8).
    static std::string StringToMultiByte(std::wstring_view text);

    // The strict form for file content: count UTF-8 bytes at bytes (0 = up to the first zero
    // byte, so an empty block must not be passed with 0 unless it is terminated) to wide text. Text
    // holding an invalid, truncated or overlong sequence or an encoded surrogate is rejected as a
    // whole: the result is empty, and that is no error.
    static std::wstring MultiByteToString(const char* bytes, size_t count);

    // Replaces the buffer's content with the UTF-8 bytes of text (no terminating zero), under
    // the buffer's lock.
    static void StringToMultiByte(std::wstring_view text, CQBuf& buffer);

    // text with every line end ("\r\n", a lone "\r" or a lone "\n") written as "\r\n".
    static std::wstring ConvertNewlinesTo(std::wstring_view text);
};
